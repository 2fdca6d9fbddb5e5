# make play: install what is missing, build the game, start it in data/.
# make test: install what is missing, build the game, its tools and tests, run every test.
# ./play and ./test do the same on a machine that has no make yet.
# make install / make uninstall: PREFIX (default /usr/local) and DESTDIR as usual.
# make deb: the Debian package build/quorvex_VERSION_ARCH.deb.
# make bench: the benchmarks, which no other target builds.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CONFIGURE = cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# CMake's own makefiles run below this one: no "Entering directory" lines.
MAKEFLAGS += --no-print-directory

.PHONY: all deps test-deps build play test sanitize fuzz bench format clean install uninstall deb

all: build

deps:
	@sh tools/install-deps.sh play

test-deps:
	@sh tools/install-deps.sh test

# Everything but the benchmarks: the tests too where GoogleTest is installed.
build: deps
	@$(CONFIGURE)
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The game alone: no tools, tests or fuzz replays.
play: deps
	@$(CONFIGURE)
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target quorvex
	cd data && ../$(BUILD_DIR)/quorvex

test: test-deps
	@$(CONFIGURE)
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure --no-tests=error -j $(JOBS)

# The same tests with AddressSanitizer and UBSan watching.
sanitize: test-deps
	@cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug \
		-DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" >/dev/null
	@cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -j $(JOBS) -E '$(SANITIZE_SKIP)'
# The terminal matrix, the pictures in small windows, the first picture's
# bytes, the window-size rule and the install runs check bytes on screen and
# files laid out, which the sanitizers add nothing to; nor does the swap test's
# second way of walking a folder, which the fuzz targets go through under
# them; nor the editor's rows while a check of seconds runs (minutes under
# them). All of these run in make test.
SANITIZE_SKIP = TerminalMatrix|Installed|SmallTerminal|FirstPicture|Contrast|TerminalPty|SwappedPack.NorByTheWalk|WhileTheCheckRuns

# Each fuzz target (fuzz/fuzz_*.cpp) for FUZZ_SECONDS, built with clang++,
# libFuzzer, ASan and UBSan in build-fuzz; a crash input lands in fuzz/corpus/.
FUZZ_SECONDS ?= 60
fuzz:
	@sh tools/install-deps.sh fuzz
	@cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@sh fuzz/run.sh $(FUZZ_SECONDS) build-fuzz

bench: deps
	@$(CONFIGURE)
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target quorvex benches
	$(BUILD_DIR)/tickbench
	$(BUILD_DIR)/checkbench data/levels bench/rooms "data/levels/custom levels/sampler"
	$(BUILD_DIR)/gamebench $(BUILD_DIR)/quorvex data $$(command -v moon-buggy || echo /usr/games/moon-buggy)
	$(BUILD_DIR)/editbench
	$(BUILD_DIR)/runbench

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR) build-sanitize build-fuzz

# Installed like any Debian game: commands in PREFIX/games, data in
# PREFIX/share/games/quorvex, each player's saves in ~/.local/share/quorvex.
PREFIX ?= /usr/local
# PREFIX=~/.local from a shell that leaves the ~ alone.
INSTALL_PREFIX = $(patsubst ~%,$(HOME)%,$(PREFIX))

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(INSTALL_PREFIX)"

uninstall: build
	@cmake -DBUILD_DIR="$(BUILD_DIR)" -DPREFIX="$(INSTALL_PREFIX)" -DDESTDIR="$(DESTDIR)" -P cmake/Uninstall.cmake

# Packaging needs a few more Debian tools (dpkg-dev, lintian, ...), installed here only.
deb: build
	@sh tools/install-deps.sh packaging
	rm -f $(BUILD_DIR)/quorvex_*.deb
	cd $(BUILD_DIR) && cpack -G DEB
