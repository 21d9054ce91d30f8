# make run  - installs what is missing, builds, and starts ipmod in this terminal under Wine, in
#             a sandbox like the end-to-end tests' (two made-up connections in a network
#             namespace, the stand-in netsh as a model of Windows); needs root.
# make run-wine - starts it under Wine against Wine's own view of this machine instead (whose
#             netsh changes nothing).
# make test - installs what is missing, builds every preset and runs every test (a 10 s run of
#             each fuzz target included). The builds keep both cores busy: they go one after
#             another, win64 and win32 first (their tests take longest), then fuzz, then host.
#             Each preset's tests start as soon as its build is done, beside the later builds
#             and the other presets' tests, and CTest runs them side by side too (the Wine tests
#             mostly wait, for Wine's start-up and the console). Each build's and each preset's
#             test output comes in one piece when it is done; make test fails when any preset
#             fails, after all have run. It ends with one line per preset that says what ran
#             (tools/what-ran): for win32, whether the shipped exe ran under Wine or was only
#             built and checked for its form, and why.
# make fuzz - runs each fuzz target for FUZZ_SECONDS (120) with its corpus in build/fuzz/fuzz.
PRESETS := host win64 win32 fuzz
FUZZ_SECONDS ?= 120
# CTest's jobs per preset in make test: many for the 64-bit Windows tests, which mostly wait;
# four for the 32-bit ones, whose code runs through an emulator where the kernel cannot run it
# and which then compute most of the time (more of them side by side took longer, and more
# processor time); one per core for the host tests and the fuzz runs, which compute.
TEST_JOBS_win64 := 8
TEST_JOBS_win32 := 4
TEST_JOBS_host := 2
TEST_JOBS_fuzz := 2
# What only computes runs under nice, so that the Wine tests beside it get the processor at
# once when they wake: the builds, and below them the fuzz runs, which run for their 10 s
# whatever share of the processor they get.
NICE_BUILD := nice -n 10
NICE_fuzz := nice -n 19

.PHONY: run run-wine test fuzz bench deps $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

deps:
	@tools/install-deps

run: deps
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 --target ipmod fake-netsh
	@tools/sandbox-run build/win64/ipmod.exe build/win64/tools/fake-netsh/netsh.exe

run-wine: deps
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 --target ipmod
	@tools/wine-run build/run-wineprefix build/win64/ipmod.exe

test: deps
	@rm -f $(PRESETS:%=build/%/what-ran); status=0; \
	$(MAKE) --no-print-directory --keep-going --output-sync=target -j$(words $(PRESETS)) \
	  ONE_BUILD_AT_A_TIME=1 $(addprefix test-,$(PRESETS)) || status=$$?; \
	echo "== what ran"; \
	for p in $(PRESETS); do \
	  cat build/$$p/what-ran 2>/dev/null || echo "$$p: FAILED, its build failed: no test ran"; \
	done; \
	exit $$status

# build-P, test-P: one preset's part of make test.
$(addprefix build-,$(PRESETS)): build-%:
	@echo "== $*: build"
	@cmake --preset $* >/dev/null
	@$(NICE_BUILD) cmake --build --preset $* -j2

$(addprefix test-,$(PRESETS)): test-%: build-%
	@echo "== $*: tests"; status=0; \
	$(NICE_$*) ctest --preset $* -j$(TEST_JOBS_$*) --output-log build/$*/ctest.log || status=$$?; \
	if [ -f build/$*/wine-unavailable ]; then \
	  echo "== $*: Wine tests skipped: $$(cat build/$*/wine-unavailable)"; \
	fi; \
	tools/what-ran $* $$status build/$*/ctest.log >build/$*/what-ran; \
	exit $$status

ifeq ($(ONE_BUILD_AT_A_TIME),1)
build-win32: | build-win64
build-fuzz: | build-win32
build-host: | build-fuzz
endif

fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j2
	IPMOD_FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --preset fuzz --timeout $$(( $(FUZZ_SECONDS) + 120 ))

# make bench - builds both Windows presets' programs and prints what ipmod.exe costs around the
#              commands it runs, against reference programs, under Wine (needs root), with
#              Wine's processes placed as in the tests (tools/wine-run says why).
bench: deps
	@set -e; for p in win64 win32; do \
	  cmake --preset $$p >/dev/null; \
	  cmake --build --preset $$p -j2 --target bench-programs; \
	done
	setarch "$$(uname -m)" --addr-no-randomize python3 -B bench/bench.py build/win64 build/win32
