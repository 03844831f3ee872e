# Vantrel: `make demo` grades a bundled sample, `make test` builds and runs every test.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CLI := $(BUILD_DIR)/vantrel-cli
DEMO_DIR := $(BUILD_DIR)/demo

.PHONY: all deps configure build test farm-test demo bench bench-e2e format clean

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# A throw-away single-node Slurm cluster grades a few clips in two shards (as root).
farm-test: build
	./scripts/farm-test.sh $(BUILD_DIR)

# A ten-second test pattern with a tone, graded by the sample job next to it.
demo: build
	@mkdir -p $(DEMO_DIR)
	@ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=1280x720:rate=30000/1001:duration=10 \
	  -f lavfi -i sine=frequency=440:duration=10 -c:v libx264 -pix_fmt yuv420p -crf 18 \
	  -c:a aac -shortest $(DEMO_DIR)/sample.mp4
	$(CLI) export --job samples/sample-job.json --input $(DEMO_DIR)/sample.mp4 \
	  --output $(DEMO_DIR)/sample_vantrel_10bit.mp4

bench: build
	@for b in $(BUILD_DIR)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

# Whole exports against ffmpeg and the encoder alone (minutes; not part of test).
# Options go through BENCH_E2E, e.g. make bench-e2e BENCH_E2E="--pairs 1 --sizes 1080".
bench-e2e: build
	./scripts/bench-e2e.sh --cli $(CLI) $(BENCH_E2E)

format:
	find src tests bench -name '*.cpp' -o -name '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)

# The desktop window: `make app` builds and opens it, `make package` builds the .deb
# (build/vantrel_*.deb), `make screenshot` retakes docs/window.png under Xvfb.
.PHONY: app package screenshot
app: build
	$(BUILD_DIR)/vantrel

package: build
	cd $(BUILD_DIR) && cpack -G DEB

screenshot: build
	./scripts/screenshot-window.sh $(BUILD_DIR)/vantrel docs/window.png
