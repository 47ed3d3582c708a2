# Entry point: `make run`, `make test`, `make bench`. Each installs what is
# missing, configures its own build tree and builds with every core, or with
# JOBS=n jobs, given on the command line or in the environment.
ifeq ($(strip $(JOBS)),)
override JOBS := $(shell nproc 2>/dev/null || echo 2)
endif
# Anything but a count from 1 up would reach cmake and ninja and fail
# there, far from its cause.
ifneq ($(shell case '$(subst ',,$(strip $(JOBS)))' in (*[!0-9]*|0*) echo bad;; esac),)
$(error JOBS=$(JOBS) is not a number of jobs: give a whole number from 1 up, for example JOBS=4)
endif
override JOBS := $(strip $(JOBS))
CMAKE_GEN := -G Ninja

.PHONY: all deps run test bench fuzz release check-format check-braces format clean

all: release

deps:
	@bash scripts/install-deps.sh

build/release/build.ninja: | deps
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF

# Configured again when this file changes, so a tree made before takes up
# new options (cmake leaves an unchanged build.ninja untouched).
build/test/build.ninja: Makefile | deps
	cmake -S . -B build/test $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKIVO_SANITIZE=ON -DKIVO_BENCHMARKS=ON
	@touch $@

# Everything optimised: the program, its data and the benchmarks.
release: deps build/release/build.ninja
	cmake --build build/release -j $(JOBS)

# The program and what it needs (its libraries, pages.bin, the fonts), no more.
run: deps build/release/build.ninja
	cmake --build build/release -j $(JOBS) --target tollbeck
	./build/release/bin/tollbeck $(ARGS)

# Tests, and start-up code that runs before a test's own sandbox, see a
# private home, never the real one. The test tree also builds every
# benchmark and every fuzz target, and runs each once as a test: the
# benchmarks one quick round, the fuzz targets over their seeds and the
# inputs of past findings (tests/fuzz/regressions).
test: deps build/test/build.ninja
	cmake --build build/test -j $(JOBS)
	@mkdir -p build/test/home
	cd build/test && HOME=$(CURDIR)/build/test/home XDG_CONFIG_HOME=$(CURDIR)/build/test/home/.config \
	  XDG_DATA_HOME=$(CURDIR)/build/test/home/.local/share XDG_CACHE_HOME=$(CURDIR)/build/test/home/.cache \
	  ctest --output-on-failure -j $(JOBS) --timeout 300

bench: release
	@set -e; for b in build/release/bin/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$b"; "$$b"; done

# Every file reader under libFuzzer for FUZZ_SECONDS each; the corpus
# starts from seeds our own writers make and grows in build/fuzz/corpus.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := $(filter-out fuzz_seeds,$(basename $(notdir $(wildcard tests/fuzz/fuzz_*.cpp))))
fuzz: deps
	cmake -S . -B build/fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKIVO_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build build/fuzz -j $(JOBS) --target kivo_fuzzers
	./build/fuzz/bin/fuzz_seeds build/fuzz/seeds
	@failed=; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$t build/fuzz/crashes/$$t build/fuzz/seeds/$$t; echo "== $$t ($(FUZZ_SECONDS) s)"; \
	  dict=; [ -f tests/fuzz/$$t.dict ] && dict=-dict=tests/fuzz/$$t.dict; \
	  ./build/fuzz/bin/$$t $$dict -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -malloc_limit_mb=128 -timeout=10 \
	    -artifact_prefix=build/fuzz/crashes/$$t/ -print_final_stats=1 \
	    build/fuzz/corpus/$$t build/fuzz/seeds/$$t || failed="$$failed $$t"; done; \
	[ -z "$$failed" ] || { echo "fuzz findings in:$$failed (inputs in build/fuzz/crashes)"; exit 1; }

# Every C++ source as .clang-format has it: check-format fails on any
# that is not (CI runs it); format puts them right.
check-format: deps
	@bash scripts/check-format.sh

# Every control statement of ours has braces: clang-tidy over the test
# tree's compile commands (the code, the tests, the benchmarks and the fuzz
# targets). CI runs it after `make test`, which has built that tree.
check-braces: deps build/test/build.ninja
	@bash scripts/check-braces.sh build/test $(JOBS)

format: deps
	@bash scripts/format.sh

clean:
	rm -rf build
