# One entry for both trees: the native build (tests) and the Windows build (the programs).
NATIVE  := build/native
WINDOWS := build/windows
JOBS    ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all native windows deps check check-native check-wine bench-central clean \
        dist check-kits lab-selftest lab-test-doubles lab-compare lab-compare-check demo \
        check-lab bench-lab bench-loss bench-relay

all: native windows

$(NATIVE)/CMakeCache.txt:
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS)

$(WINDOWS)/CMakeCache.txt:
	cmake -S . -B $(WINDOWS) -DCMAKE_BUILD_TYPE=Release \
	      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(CMAKE_ARGS)

native: $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)

windows: $(WINDOWS)/CMakeCache.txt
	cmake --build $(WINDOWS) -j $(JOBS)

# Installs the Debian packages that building and testing need (idempotent).
deps:
	tools/install-deps

check-native: native
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

# test-central runs the programs against central, which the native tree builds.
check-wine: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	tests/wine/run-wine-tests $(WINDOWS)

# The test command: everything from a fresh clone on a fresh machine, as root.
check: deps
	$(MAKE) check-native check-kits check-wine check-lab lab-compare-check

# End-to-end tests: the real programs under Wine in the NAT lab (root; about four minutes).
check-lab: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/check-lab

# Benchmark of the programs in the NAT lab (not part of check; root): the NAT matrix,
# TRIALS connects per pair of router profiles, and client.exe's CPU time during its
# connect sequence. About twenty minutes with the default of 10 trials.
TRIALS ?= 10
bench-lab: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/bench-lab $(TRIALS)

# Connects of the programs in the lab under random loss on the path to and from central
# (not part of check; root): ATTEMPTS with single answers from central and as many
# with repeated ones, taking turns; LOSS (0.1) and LOSS_ON (central or all) pass
# through. About fifteen minutes with the default of 20 attempts each.
ATTEMPTS ?= 20
bench-loss: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/bench-loss $(ATTEMPTS)

# Throughput of a tunnel through central's relay against the direct one, both ways,
# with iperf3 in the lab (not part of check; root): ROUNDS of both, RELAY_SECONDS each.
ROUNDS ?= 3
RELAY_SECONDS ?= 10
bench-relay: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/bench-relay $(ROUNDS) $(RELAY_SECONDS)

# central's benchmark against a plain UDP echo server: requests, datagrams passed on
# through relays, and its memory per name (not part of check; needs root for its
# private network namespace).
bench-central:
	central/bench/run

# The two kits of one installation (build/dist), from the Windows programs and the
# installation's key set (build/keys, made fresh on first use; keep ca.key offline).
dist: windows
	openvpn/make-kits $(WINDOWS) build/keys build/dist

check-kits:
	openvpn/test-kits

# The NAT lab's own checks, without the programs (root; not part of check yet):
# every NAT pair punched and tunnelled with the real OpenVPN (about 70 s), and the
# command doubles under Wine (about 30 s).
lab-selftest:
	lab/selftest

lab-test-doubles:
	lab/test-doubles

# Our NAT traversal beside Nebula and tinc in the lab (root; a benchmark, about 35 min
# by default): COMPARE_ARGS passes -n TRIALS, -t TIMEOUT, -s SYSTEMS, pairs. The check
# runs one trial of every system between two Linux default routers (about 35 s; our
# programs under Wine with central among them) and is part of check.
lab-compare: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/compare/compare $(COMPARE_ARGS)

# One trial of every system keeps the comparison command working. Nebula, tinc and
# Wine's first window in a fresh prefix each fail now and then on their own, so a
# failed trial is tried once more; a comparison that is broken fails both times.
lab-compare-check: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/compare/check-quick || { echo "lab-compare-check: once more"; lab/compare/check-quick; }

# The main job: both programs connect through two Linux default NAT routers in the lab,
# with a timeline of both status lines and a screenshot (build/lab/demo.png); root.
demo: deps
	$(MAKE) windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/demo

clean:
	rm -rf build
