#ifndef KIVO_TEST_SMB_SERVER_H
#define KIVO_TEST_SMB_SERVER_H

// A private SMB file server for tests: smbd in a network namespace of its
// own (so it listens on 127.0.0.1:445 there and needs no free port here)
// and first in a process namespace of its own (so nothing it starts
// outlives it), sharing one folder as "share" with the modules a Linux
// server uses to keep the Finder information of files and folders in an
// extended attribute (catia, fruit with its netatalk metadata,
// streams_xattr); smbclient runs in the same network namespace against it.
// Configuration, state and log live in a folder of the test's; every wait
// is bounded, and stop() ends smbd with everything it started.
#include "sandbox.h"

#include <sys/types.h>

#include <string>

namespace kivo_test {

struct SmbResult
{
    // smbclient's exit status: 0 when its last command succeeded; -1 when
    // it did not end by itself in time (it is then killed).
    int exit_code = -1;
    // Its standard output and error together.
    std::string output;
    // Exit status 0 and no NT_STATUS error in the output (a command before
    // the last can fail without changing the status).
    bool ok() const { return exit_code == 0 && output.find("NT_STATUS_") == std::string::npos; }
};

class SmbServer
{
public:
    SmbServer() = default;
    ~SmbServer();
    SmbServer(const SmbServer&) = delete;
    SmbServer& operator=(const SmbServer&) = delete;

    // Why no server can run here, "" when one can: smbd, smbclient or
    // Samba's VFS modules are missing, the process is not root (smbd changes
    // users and groups for each client, which a user namespace does not
    // allow), or it may not make a network namespace. Found once a process.
    static const std::string& unavailable_reason();

    // Starts smbd sharing `share_dir` (an existing folder, absolute) as
    // "share", read-write for the guest as this process's user, with its
    // files in `work_dir` (made when missing; smb.conf, smbd.log, state).
    // Waits at most timeout_ms for it to accept connections. False with
    // error() saying why (with the log's end) when it does not.
    bool start(const std::string& share_dir, const std::string& work_dir, int timeout_ms = 20000);
    // Ends smbd and every process it started, then lets the namespace go.
    // Safe to call when nothing runs.
    void stop();
    bool running() const { return pid_ > 0; }

    // Runs smbclient's `commands` (its -c syntax, ';' between commands,
    // names with spaces in double quotes, '/' between folders) on the share.
    SmbResult run(const std::string& commands, int timeout_ms = 60000) const;

    // Writes `bytes` to (or reads all of) the stream `stream` of the file or
    // folder `name` of the share, e.g. ("a/b.txt", "AFP_AfpInfo"). Neither
    // name may hold a double quote. On failure `why` gets smbclient's words.
    bool write_stream(const std::string& name, const std::string& stream, const std::string& bytes,
                      std::string* why = nullptr) const;
    bool read_stream(const std::string& name, const std::string& stream, std::string* bytes,
                     std::string* why = nullptr) const;

    const std::string& error() const { return error_; }
    // What smbd logged so far.
    std::string log() const;

private:
    bool fail(const std::string& why);
    std::string local_temp_path() const;

    pid_t pid_ = -1;
    int netns_fd_ = -1;
    std::string work_, conf_, error_;
    mutable int temp_counter_ = 0;
};

// A scratch folder (`work`, at()) shared by a private server (`smb`); the
// test is skipped where no server can run, and fails when one could but
// did not start.
class SmbShareTest : public ScratchFolderTest
{
protected:
    void SetUp() override;
    void TearDown() override;
    SmbServer smb;
};

} // namespace kivo_test

#endif
