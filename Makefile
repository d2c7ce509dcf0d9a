# quillmoor: one-command set-up, tests, demo and benchmarks.
#   make test    installs what is missing, builds everything, runs every test
#   make demo    the same set-up, then the report example
#   make bench   side-by-side benchmarks against the peers (ratios)

SHELL := /bin/bash
.SHELLFLAGS := -euo pipefail -c

PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
APT_PACKAGES := g++ pkg-config libpcre2-dev libtbb-dev libabsl-dev libgtest-dev libbenchmark-dev
# Rebuild the installed package when any of these change.
SOURCES := $(shell find src python -type f) meson.build meson.options pyproject.toml

.PHONY: test demo bench deps core-test asan-test py-test dev clean

test: core-test asan-test py-test

demo: $(VENV)/.installed
	cd examples && ../$(VPY) monthly_report.py

bench: $(VENV)/.installed build-core/.built
	$(VPY) bench/compare.py

# Debian packages for the C++ side; `apt-get update` once, only when one is missing.
deps:
	@missing=""; for p in $(APT_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

$(VENV)/bin/python:
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install -q --upgrade pip

$(VENV)/.installed: $(VENV)/bin/python $(SOURCES) | deps
	$(VPY) -m pip install -q ".[test,bench]"
	touch $@

build-core/.built: $(SOURCES) $(shell find tests/core bench -type f) | deps
	[ -d build-core ] || meson setup build-core -Dextension=false -Dtests=true
	meson compile -C build-core
	touch $@

core-test: build-core/.built
	meson test -C build-core --print-errorlogs

# The core suites once more under AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test: | deps
	[ -d build-asan ] || meson setup build-asan -Dextension=false -Dtests=true \
	  -Dbuildtype=debug -Db_sanitize=address,undefined -Db_lundef=false
	meson compile -C build-asan
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 meson test -C build-asan --print-errorlogs

py-test: $(VENV)/.installed
	cd tests/python && ../../$(VPY) -m pytest -q -p no:cacheprovider .

# A development build importable without installing: make dev BUILD=build-dev,
# then PYTHONPATH=build-dev/stage .venv/bin/python -m pytest tests/python
BUILD ?= build-dev
dev: | deps
	[ -d $(BUILD) ] || meson setup $(BUILD) -Dtests=false
	meson compile -C $(BUILD)
	tools/stage.sh $(BUILD)

clean:
	rm -rf build-core build-asan build-dev $(VENV)
