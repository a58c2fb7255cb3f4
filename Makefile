# make run   installs what is missing, builds and starts the game
# make test  installs what is missing, builds and runs every test
BUILD ?= build
JOBS  ?= 2

.PHONY: deps configure build run test clean

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/bin/pipshift

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD)
