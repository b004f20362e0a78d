# One entry for both trees: the native build (tests) and the Windows build (the programs).
NATIVE  := build/native
WINDOWS := build/windows
JOBS    ?= $(shell nproc)
CMAKE_ARGS ?=

# On make's command line the signing password would show in ps.
ifeq ($(origin SIGN_PASSWORD),command line)
$(error SIGN_PASSWORD on make's command line shows in ps: put it into a file given as SIGN_PASSWORD_FILE=FILE, or into the environment)
endif

.PHONY: all native windows deps check-deps check check-native check-wine bench-central bench-spoof bench-abuse clean \
        dist check-kits kits-programs lab-selftest lab-test-doubles lab-compare lab-compare-check demo \
        check-lab bench-lab bench-loss bench-cycle bench-relay check-bench kits deb check-deb

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

# Every command that the build, the tests, the lab and the demo call is there and comes
# from a package that tools/install-deps installs (under a second).
check-deps:
	tools/check-deps

check-native: native
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

# test-central runs the programs against central, which the native tree builds.
check-wine: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	tests/wine/run-wine-tests $(WINDOWS)

# The test command: everything from a fresh clone on a fresh machine, as root.
check: deps
	$(MAKE) check-deps check-native check-kits check-deb check-wine check-lab lab-compare-check \
	        check-bench

# End-to-end tests: the real programs under Wine in the NAT lab (root).
# How long each command below takes: docs/develop.md, and only there.
check-lab: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/check-lab

# Benchmark of the programs in the NAT lab (not part of check; root): the NAT matrix,
# TRIALS connects per pair of router profiles, and client.exe's CPU time during its
# connect sequence.
TRIALS ?= 10
bench-lab: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/bench-lab $(TRIALS)

# Connects of the programs in the lab under random loss on the path to and from central
# (not part of check; root): ATTEMPTS with single answers from central and as many
# with repeated ones, taking turns; LOSS (0.1) and LOSS_ON (central or all) pass
# through.
ATTEMPTS ?= 20
bench-loss: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/bench-loss $(ATTEMPTS)

# Connects at random moments of the waiting server's 33-second cycle, which it ends by
# registering again (not part of check; root): CYCLE_ATTEMPTS connects in the lab, the
# share that succeeds overall and around that registration.
CYCLE_ATTEMPTS ?= 60
bench-cycle: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/bench-cycle $(CYCLE_ATTEMPTS)

# Throughput of a tunnel through central's relay against the direct one, both ways,
# with iperf3 in the lab (not part of check; root): ROUNDS of both, RELAY_SECONDS each.
ROUNDS ?= 3
RELAY_SECONDS ?= 10
bench-relay: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/bench-relay $(ROUNDS) $(RELAY_SECONDS)

# The smallest run of every benchmark above and of bench-central (one trial, one round,
# the shortest durations) ends well and prints its table; its figures are not checked
# (root; part of check).
check-bench: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	tools/check-bench

# central's benchmark against a plain UDP echo server: requests, datagrams passed on
# through relays, and its memory per name (not part of check; needs root for its
# private network namespace).
bench-central:
	central/bench/run

# What one datagram with a spoofed source makes central send to that source, by kind
# (not part of check; root). COMPARE=PATH plays the same against
# another central binary beside it.
bench-spoof:
	central/bench/spoof

# What central's relay and log withstand: a pair whose server only answers, two
# echoing hosts made a pair, a flood of unknown names and the log lines it makes (not
# part of check; root). COMPARE=PATH plays the same after it.
bench-abuse:
	central/bench/abuse

# Each installation's key set (ca.key, and the keys inside its installers) is kept
# out of build/, which make clean removes: in the user's data folder, where make
# clean, git clean, a fresh clone or a deleted checkout leave it. Kits made without
# it belong to a new installation, and both Windows machines must be installed
# again. A set still in its old place inside build/ is moved there first
# (openvpn/keep-keys).
KEY_STORE ?= $(or $(XDG_DATA_HOME),$(HOME)/.local/share)/punchvpn/keys

# The two kits of one installation in build/dist, each as a zip and as an installer,
# from the Windows programs and the installation's key set (KEY_STORE/dist, made on
# first use; keep ca.key offline).
dist: windows
	openvpn/keep-keys build/keys $(KEY_STORE)/dist
	openvpn/make-kits $(WINDOWS) $(KEY_STORE)/dist build/dist

check-kits:
	openvpn/test-kits
	openvpn/test-signing
	openvpn/test-keep-keys

# central as a Debian package (build/central_VERSION_amd64.deb), built in a tree of
# its own without sanitizers; check-deb tests it unpacked, without installing it.
VERSION := $(shell cat VERSION)
deb: deps
	central/package/make-deb build/deb build

check-deb: deb
	central/package/test-deb build/central_$(VERSION)_amd64.deb

# Everything one installation needs for its central host (make kits CENTRAL_HOST=...):
# the programs built for that host in a tree of their own (kits-programs), the
# installation's key set (KEY_STORE/NAME, NAME the last folder of KITS_DIR; made on
# first use and kept; ca.key stays there), both zips and both installers, all in
# KITS_DIR. Another installation on the same central host: another KITS_DIR.
# SIGN_PFX=cert.pfx signs the programs and installers (also in make dist), with the
# password from SIGN_PASSWORD_FILE=FILE or SIGN_PASSWORD in the environment, and
# SIGN_TIMESTAMP_URL=URL time-stamps them (openvpn/make-kits).
KITS_DIR ?= build/kits/$(CENTRAL_HOST)
KEYS_DIR := $(KEY_STORE)/$(notdir $(patsubst %/,%,$(KITS_DIR)))
kits: kits-programs
	openvpn/keep-keys $(KITS_DIR)/keys $(KEYS_DIR)
	openvpn/make-kits $(KITS_DIR)/windows $(KEYS_DIR) $(KITS_DIR)
	@echo "The key set of this installation: $(KEYS_DIR)"
	@echo "Keep it, with a copy off this machine: kits made without it belong to a new installation,"
	@echo "and both Windows machines would have to be installed again."
	@echo "Back it up: tar -C $(patsubst %/,%,$(dir $(KEY_STORE))) -czf punchvpn-keys.tar.gz $(notdir $(KEY_STORE))"

kits-programs: deps
	@[ -n "$(CENTRAL_HOST)" ] || { echo "usage: make kits CENTRAL_HOST=host.name.of.central" >&2; exit 2; }
	cmake -S . -B $(KITS_DIR)/windows -DCMAKE_BUILD_TYPE=Release \
	      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCENTRAL_HOST=$(CENTRAL_HOST)
	cmake --build $(KITS_DIR)/windows -j $(JOBS) --target client server stop

# The NAT lab's own checks, without the programs (root; not part of check yet):
# every NAT pair punched and tunnelled with the real OpenVPN, and the command
# doubles under Wine.
lab-selftest:
	lab/selftest

lab-test-doubles:
	lab/test-doubles

# Our NAT traversal beside Nebula and tinc in the lab (root; a benchmark): COMPARE_ARGS
# passes -n TRIALS, -t TIMEOUT, -s SYSTEMS, pairs. The check runs one trial of every
# system between two Linux default routers (our programs under Wine with central
# among them) and is part of check.
lab-compare: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/compare/compare $(COMPARE_ARGS)

# One trial of every system keeps the comparison command working.
lab-compare-check: windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/compare/check-quick

# The main job: both programs connect through two Linux default NAT routers in the lab,
# with a timeline of both status lines and a screenshot (build/lab/demo.png); root.
demo: deps
	$(MAKE) windows $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) --target central -j $(JOBS)
	lab/demo

clean:
	rm -rf build
