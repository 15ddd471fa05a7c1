# Orlune VPN — the commands a person types. Every target installs what it needs first.
#   make run      the whole system in the lab (builds first)
#   make test     every test (the lab's end-to-end tests need root)
#   make build    configure and build out of tree in build/
#   make asan     build and test with AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   make fuzz     run each fuzz target for FUZZ_SECONDS (default 60) under ASan/UBSan in build-fuzz/
#   make model-check  the app model's random check of event orders, MODEL_CHECK_SEQUENCES long
#   make bench    the catalog benchmark, then the system against the raw engine in the lab (root)
#   make soak     SOAK_CYCLES (100) connects and disconnects on each kind and transport of relay (root)
#   make package  the Debian package (build/package/orlune-vpn_*.deb)
#   make install  build the package and install it on this machine (root or sudo)
#   make screenshots  the window's main states into build/screenshots/, offscreen and on a desktop in the lab

BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 60
# make test starts with a short run of every fuzz target (about a minute in all).
FUZZ_SMOKE_SECONDS ?= 5
# CI turns warnings in our own code into errors.
WERROR     ?= $(if $(CI),ON,OFF)

CMAKE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DORLUNE_WERROR=$(WERROR)

.PHONY: all build test run asan fuzz model-check bench soak bootstrap clean help package install screenshots

all: build

help:
	@sed -n '2,13p' Makefile | sed 's/^# *//'

bootstrap:
	@scripts/bootstrap all

build: bootstrap
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# The fuzz smoke run comes first, so that ctest's summary closes the output.
test: build
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(FUZZ_SMOKE_SECONDS)
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 600

run: build
	@scripts/run $(BUILD)

# debhelper packages the build tree that `make build` made; nothing is compiled a second time.
package:
	@scripts/bootstrap package
	@$(MAKE) --no-print-directory build
	@scripts/package $(BUILD)

# apt-get installs the package's dependencies from the distribution as well.
install: package
	@deb=$$(ls $(BUILD)/package/orlune-vpn_*.deb) && \
	  if [ "$$(id -u)" -eq 0 ]; then apt-get install -y "$$(realpath $$deb)"; \
	  else sudo apt-get install -y "$$(realpath $$deb)"; fi

asan: bootstrap
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORLUNE_SANITIZE=ON -DORLUNE_WERROR=$(WERROR) >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@ctest --test-dir build-asan --output-on-failure -j $(JOBS) --timeout 600

fuzz: bootstrap
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DORLUNE_FUZZ=ON -DORLUNE_SANITIZE=ON -DORLUNE_BUILD_APP=ON -DORLUNE_BUILD_TESTS=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	@scripts/fuzz build-fuzz $(FUZZ_SECONDS)

# make test runs a few thousand sequences; this is the long run (about 2 ms a sequence).
MODEL_CHECK_SEQUENCES ?= 200000
model-check: bootstrap
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target app_model_check_test
	@ORLUNE_MODEL_CHECK_SEQUENCES=$(MODEL_CHECK_SEQUENCES) $(BUILD)/tests/app/model/app_model_check_test

# The e2e suite runs three rounds; this is the long run (about 15 s a round of four relays).
SOAK_CYCLES ?= 100
soak: build
	@if [ "$$(id -u)" -eq 0 ]; then bash tests/e2e/soak_test.sh $(BUILD)/app/orlune-vpn $(BUILD)/service/main/orlune-vpn-service $(SOAK_CYCLES); \
	  else sudo bash tests/e2e/soak_test.sh $(BUILD)/app/orlune-vpn $(BUILD)/service/main/orlune-vpn-service $(SOAK_CYCLES); fi

bench: bootstrap
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORLUNE_BUILD_BENCH=ON \
	  -DORLUNE_BUILD_TESTS=OFF -DORLUNE_WERROR=$(WERROR) >/dev/null
	@cmake --build build-bench -j $(JOBS) --target catalog_bench orlune-status-bench orlune-vpn orlune-vpn-service lab-delay-line
	@bench/run build-bench

# Offscreen from a scripted model (also at 1.5x and 2x pixel density), then the real app on a
# real desktop in the lab (root; skipped with the reason without it or the desktop's packages).
screenshots: build
	@QT_QPA_PLATFORM=offscreen $(BUILD)/tests/app/ui/ui_screenshots $(BUILD)/screenshots
	@QT_QPA_PLATFORM=offscreen $(BUILD)/tests/app/ui/ui_screenshots $(BUILD)/screenshots --scale 1.5
	@QT_QPA_PLATFORM=offscreen $(BUILD)/tests/app/ui/ui_screenshots $(BUILD)/screenshots --scale 2
	@scripts/bootstrap desktop || echo "the desktop's packages could not be installed"
	@tests/app/ui/desktop_screenshots.sh $(BUILD)/app/orlune-vpn $(BUILD)/service/main/orlune-vpn-service $(BUILD)/screenshots

clean:
	rm -rf build build-asan build-fuzz build-bench
