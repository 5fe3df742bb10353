# Entry points. Each target first makes sure the Debian packages are there.
#   make run        build the stand-in host and run the plugin scenarios in it, then a whole
#                   match of the gameflow plugin with the real stand-in game client
#   make test       build and run every test (the README's test command)
#   make test-asan  the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   make bench      build optimised and run the benchmarks
#   make fuzz       build the libFuzzer targets and run each for FUZZ_SECONDS

FUZZ_SECONDS ?= 30
BENCH_FILTER ?= .

.PHONY: setup run test test-asan bench fuzz format clean

setup:
	@./scripts/setup.sh

run: setup
	cmake --preset default
	cmake --build --preset default --target host test_plugin
	@for scenario in tests/scenarios/*.yaml; do \
	  build/default/host/host --plugin build/default/tests/plugin/libtest_plugin.so \
	    --scenario "$$scenario" || exit 1; \
	done
	cmake --build --preset default --target tav_gameflow stand_in_client
	NALO_STAND_IN_CLIENT=$(CURDIR)/build/default/tools/stand-in-client/Tavora.exe \
	  build/default/host/host --plugin build/default/gameflow/libtav_gameflow.so \
	    --scenario tests/gameflow/scenarios/gameflow_client_match.yaml

test: setup
	cmake --preset default
	cmake --build --preset default
	ctest --preset default

test-asan: setup
	cmake --preset asan
	cmake --build --preset asan
	./scripts/run-sanitized-tests.sh

bench: setup
	cmake --preset release
	cmake --build --preset release
	./scripts/run-benchmarks.sh build/release '$(BENCH_FILTER)'

fuzz: setup
	cmake --preset fuzz
	cmake --build --preset fuzz
	./scripts/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
