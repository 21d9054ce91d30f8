# make run  - installs what is missing, builds, and starts ipmod in this terminal under Wine, in
#             a sandbox like the end-to-end tests' (two made-up connections in a network
#             namespace, the stand-in netsh as a model of Windows); needs root.
# make run-wine - starts it under Wine against Wine's own view of this machine instead (whose
#             netsh changes nothing).
# make test - installs what is missing, builds every preset and runs every test (a 10 s run of
#             each fuzz target included).
# make fuzz - runs each fuzz target for FUZZ_SECONDS (120) with its corpus in build/fuzz/fuzz.
PRESETS := host win64 win32 fuzz
FUZZ_SECONDS ?= 120

.PHONY: run run-wine test fuzz bench deps $(addprefix test-,$(PRESETS))

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
	@set -e; for p in $(PRESETS); do \
	  echo "== $$p"; \
	  cmake --preset $$p >/dev/null; \
	  cmake --build --preset $$p -j2; \
	  ctest --preset $$p; \
	  if [ -f build/$$p/wine-unavailable ]; then \
	    echo "== $$p: Wine tests skipped: $$(cat build/$$p/wine-unavailable)"; \
	  fi; \
	done

fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j2
	IPMOD_FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --preset fuzz --timeout $$(( $(FUZZ_SECONDS) + 120 ))

# make bench - builds both Windows presets' programs and prints what ipmod.exe costs around the
#              commands it runs, against reference programs, under Wine (needs root).
bench: deps
	@set -e; for p in win64 win32; do \
	  cmake --preset $$p >/dev/null; \
	  cmake --build --preset $$p -j2 --target bench-programs; \
	done
	python3 -B bench/bench.py build/win64 build/win32
