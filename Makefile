# The two commands a fresh machine needs are `make run` and `make test`; the rest are steps.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: all bootstrap build release test run bench fuzz clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS)

release: bootstrap
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

# Every test: unit and loopback tests, the short fuzz runs, and the test suites of the other
# folders (each folder's suite is a ctest test, so one ctest run reports everything).
test: build
	ctest --preset debug

run: release
	scripts/run $(ARGS)

bench: release
	bench/run build/release

# A longer fuzz session of one target: make fuzz TARGET=xml_parse SECONDS=600
TARGET ?= xml_parse
SECONDS ?= 600
fuzz: build
	fuzz/run-fuzz build/debug/fuzz/fuzz_$(TARGET) fuzz/corpus/$(TARGET) $(SECONDS)

clean:
	rm -rf build
