# The two commands of the README: `make run` and `make test`.
.PHONY: run test build

JOBS := $(shell nproc)

build:
	tools/install-deps.sh run
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j$(JOBS) --target zuxfiler zuxsim

run: build
	tools/run.sh

test:
	tools/install-deps.sh test
	tools/run-tests.sh
