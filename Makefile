# Entry point: `make run`, `make test`, `make bench`. Each installs what is
# missing, configures its own build tree and builds with every core.
JOBS := $(shell nproc 2>/dev/null || echo 2)
CMAKE_GEN := -G Ninja

.PHONY: all deps run test bench release clean

all: release

deps:
	@bash scripts/install-deps.sh

build/release/build.ninja: | deps
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF

build/test/build.ninja: | deps
	cmake -S . -B build/test $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKIVO_SANITIZE=ON

release: deps build/release/build.ninja
	cmake --build build/release -j $(JOBS)

run: release
	./build/release/bin/tollbeck $(ARGS)

test: deps build/test/build.ninja
	cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS) --timeout 300

bench: release
	@set -e; for b in build/release/bin/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$b"; "$$b"; done

clean:
	rm -rf build
