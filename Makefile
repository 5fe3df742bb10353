# Entry points. Each target first makes sure the Debian packages are there.
#   make run        build the stand-in host and serve the gameflow over HTTP until Ctrl-C
#   make demo       the same, then play a whole match against it over HTTP and exit
#   make test       build and run every test (the README's test command)
#   make test-asan  the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   make test-windows  build the 32-bit Windows DLL and the tests, run them under Wine
#   make bench      build optimised and run the benchmarks
#   make fuzz       build the libFuzzer targets and run each for FUZZ_SECONDS
#   make test-browser  the dashboard in headless Chromium, a whole match through the page
#   make lint       clang-tidy with .clang-tidy's checks over the project's sources
#                   (LINT_FOLDERS="binding platform" for some folders only)

FUZZ_SECONDS ?= 30
FUZZ_SKIP ?=
BENCH_FILTER ?= .

.PHONY: setup run demo test test-asan test-windows bench fuzz lint format clean

setup:
	@./scripts/setup.sh

run: setup
	@./scripts/serve.sh run

demo: setup
	@./scripts/serve.sh demo

test: setup
	cmake --preset default
	cmake --build --preset default
	ctest --preset default

test-asan: setup
	cmake --preset asan
	cmake --build --preset asan
	./scripts/run-sanitized-tests.sh

test-windows: setup
	./scripts/windows-deps.sh build/windows
	./scripts/wine-prefix.sh build/windows/wine
	cmake --preset windows
	cmake --build --preset windows
	ctest --preset windows; status=$$?; \
	  WINEPREFIX=$(CURDIR)/build/windows/wine wineserver -k; exit $$status

bench: setup
	cmake --preset release
	cmake --build --preset release
	./scripts/run-benchmarks.sh build/release '$(BENCH_FILTER)'

fuzz: setup
	cmake --preset fuzz
	cmake --build --preset fuzz
	FUZZ_SKIP='$(FUZZ_SKIP)' ./scripts/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

.PHONY: test-browser
test-browser: setup
	./scripts/run-browser-tests.sh

LINT_FOLDERS ?=

lint: setup
	./scripts/lint.sh $(LINT_FOLDERS)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
