// Program entry of the name program. The framework's start-up grows here
// as its layers arrive; for now it starts and ends cleanly.
int main(int, char**)
{
    return 0;
}
