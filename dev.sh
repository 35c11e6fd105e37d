#!/usr/bin/env bash
# Set-up, demonstration and test runner for quillkit on Debian.
#   ./dev.sh demo   install what is missing, build, run the eight tools on bundled samples
#   ./dev.sh test   install what is missing, check the shell scripts with
#                   ShellCheck, then build and run the whole suite in five
#                   configurations: GCC with Debian's libspectrum, GCC with
#                   ASan and UBSan, clang (and clang-tidy over the sources),
#                   GCC with libspectrum 1.6.2 built from ../shared/deps once
#                   and kept in ~/.cache/quillkit (the command-line tests
#                   also under valgrind), GCC for 32-bit x86 (i386 libraries,
#                   QEMU where the kernel runs no 32-bit programs); then build
#                   the Debian package without its checks and check it, and
#                   run 20,000 inputs of each fuzzing harness from a fixed
#                   seed; prints the time and processor time of each stage
#   ./dev.sh package  build quillkit_<version>-1_<arch>.deb (and its -dbgsym) in
#                     build-deb/ with dpkg-buildpackage, which runs the suite
#                     (but for valgrind) unless DEB_BUILD_OPTIONS has nocheck
# All are safe to run again.
set -euo pipefail
cd "$(dirname "$0")"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {  # install_missing [extra package...]
  local wanted=(cmake g++ make pkgconf libgtest-dev libspectrum-dev libbz2-dev zlib1g-dev libsndfile1-dev libpng-dev dpkg-dev "$@")
  local missing=()
  for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$package")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

jobs=$(nproc 2>/dev/null || echo 2)

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# Builds libspectrum VERSION from ../shared/deps once for each tarball, and
# sets libspectrum_prefix to where it is installed: a cache outside the tree,
# ${XDG_CACHE_HOME:-~/.cache}/quillkit/libspectrum-<sha256 of the tarball>/
# prefix, which later runs and other clones use as it is. It is built in a
# temporary folder beside it and renamed into place only when installed
# whole, so a build that is killed leaves no cache that looks complete; a
# lock keeps two runs from building it at once. Returns 1 when its source
# is not there.
build_libspectrum() {
  local version=$1
  local tarball=../shared/deps/libspectrum-$version.tar.gz
  [ -f "$tarball" ] || return 1
  # Also what the library needs to run, cached or not.
  install_missing autoconf automake libtool libglib2.0-dev zlib1g-dev libgcrypt20-dev \
    libaudiofile-dev
  local cache hash
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillkit
  hash=$(sha256sum < "$tarball")
  hash=${hash%% *}
  local entry=$cache/libspectrum-$hash
  libspectrum_prefix=$entry/prefix
  [ -d "$entry" ] && return 0
  mkdir -p "$cache"
  local lock
  exec {lock}> "$entry.lock"
  flock "$lock"
  if [ ! -d "$entry" ]; then
    # Under the lock, a temporary folder is what a killed build left.
    local work=$entry.partial
    rm -rf "$work"
    mkdir -p "$work"
    tar -xzf "$tarball" -C "$work"
    echo "Building libspectrum $version into $entry"
    if ! (cd "$work/libspectrum-$version" && ./autogen.sh &&
        ./configure --prefix="$libspectrum_prefix" --disable-static && make -j "$jobs" &&
        make install DESTDIR="$work/installed") > "$work/build.log" 2>&1; then
      tail -30 "$work/build.log" >&2
      exit 1
    fi
    mkdir "$work/entry"
    mv "$work/installed$libspectrum_prefix" "$work/entry/prefix"
    mv -T "$work/entry" "$entry"
    rm -rf "$work"
  fi
  exec {lock}>&-
}

# The i386 packages that the 32-bit build links (libspectrum, GoogleTest,
# bzip2, libsndfile, libpng and what they need), unpacked into
# build-i386/sysroot once for each list of packages: the marker of a whole
# sysroot holds the list, so one made before a package joined it is made
# again. apt resolves and downloads them with a state of its own in
# build-i386/apt, so the system's packages (its x86-64 -dev packages above
# all) stay as they are; the C and C++ runtime come from g++-multilib
# instead. Returns 1 when the packages can't be had.
i386_sysroot() {
  local top=$PWD/build-i386
  local sysroot=$top/sysroot apt=$top/apt
  local packages=(libspectrum-dev libgtest-dev libbz2-dev zlib1g-dev libsndfile1-dev libpng-dev)
  [ -f "$sysroot/.complete" ] && [ "$(< "$sysroot/.complete")" == "${packages[*]}" ] && return 0
  rm -rf "$sysroot" "$apt"
  mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$sysroot"
  : > "$apt/status"
  local options=(-o APT::Architecture=i386 -o APT::Architectures::=i386 -o Dir::State="$apt"
    -o Dir::State::status="$apt/status" -o Dir::State::Lists="$apt/lists"
    -o Dir::Cache="$apt" -o Dir::Cache::archives="$apt/archives" -o Debug::NoLocking=1
    -o APT::Sandbox::User=root -qq)
  # An index that fails to download (a mirror being synchronised) leaves the
  # others usable: the download below says whether they were enough.
  apt-get "${options[@]}" update > "$top/apt.log" 2>&1 || true
  if ! apt-get "${options[@]}" install --download-only -y --no-install-recommends \
      "${packages[@]}" >> "$top/apt.log" 2>&1; then
    tail -5 "$top/apt.log" >&2
    return 1
  fi
  local deb
  for deb in "$apt"/archives/*.deb; do
    case $(dpkg-deb -f "$deb" Package) in
      libc6 | libc6-dev | libc-dev-bin | libcrypt1 | libcrypt-dev | linux-libc-dev | gcc-*-base | \
        libgcc-s1 | libstdc++6 | libnsl-dev | libtirpc-dev) ;;
      *) dpkg-deb -x "$deb" "$sysroot" ;;
    esac
  done
  # Links to absolute paths (libbz2.so -> /lib/i386-linux-gnu/...) point
  # into the sysroot instead.
  local link
  while IFS= read -r -d '' link; do
    ln -sfn "$sysroot$(readlink "$link")" "$link"
  done < <(find "$sysroot" -type l -lname '/*' -print0)
  printf '%s' "${packages[*]}" > "$sysroot/.complete"
}

# Makes this machine run 32-bit x86 programs, when its kernel does not (no
# IA-32 emulation, as in some virtual machines): QEMU's user-mode emulator,
# registered for i386 programs with binfmt_misc. Returns 1 when it can't.
run_i386_programs() {  # run_i386_programs PROGRAM
  "$1" --version >/dev/null 2>&1 && return 0
  install_missing qemu-user-static || return 1
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  # P keeps argv[0] as the caller gave it; F opens the emulator now.
  as_root sh -c "cd /proc/sys/fs/binfmt_misc 2>/dev/null && [ -e register ] ||
      mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] ||
      printf '%s' ':qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:PF' \
        > /proc/sys/fs/binfmt_misc/register" >/dev/null 2>&1 || true
  "$1" --version >/dev/null 2>&1
}

# The whole suite built for 32-bit x86 (size_t and long of 32 bits), but for
# valgrind, which does not follow the emulator. Left out, with a message,
# when the i386 packages can't be had or no 32-bit program runs here.
test_i386() {
  if [ "$(dpkg --print-architecture)" != amd64 ]; then
    echo "Not an amd64 machine: the 32-bit stage is left out"
    return 0
  fi
  if ! install_missing g++-multilib || ! i386_sysroot; then
    echo "The i386 packages can't be installed: the 32-bit stage is left out"
    return 0
  fi
  build build-i386/quillkit -DQUILLKIT_WERROR=ON -DQUILLKIT_OPTIMIZE_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/i386-multilib.cmake -DQUILLKIT_I386_SYSROOT="$PWD/build-i386/sysroot"
  if ! run_i386_programs build-i386/quillkit/blankide/blankide; then
    echo "No 32-bit program runs on this machine: the 32-bit suite is left out (built only)"
    return 0
  fi
  QUILLKIT_PROPERTY_CARTRIDGES=$fewer_cartridges ctest --test-dir build-i386/quillkit -j "$jobs" \
    -LE valgrind --output-on-failure
}

# Builds the Debian package the Debian way (dpkg-buildpackage, debhelper)
# from a copy of the tree in build-deb/, where the .deb, its -dbgsym and the
# .changes land; dh_auto_test runs the suite (DEB_BUILD_OPTIONS=nocheck in
# the environment leaves it out).
package() {
  install_missing debhelper lintian devscripts bash-completion man-db
  local version
  version=$(dpkg-parsechangelog -S Version)
  rm -rf build-deb
  mkdir -p "build-deb/quillkit-${version%-*}"
  if git rev-parse --git-dir >/dev/null 2>&1; then
    git ls-files -co --exclude-standard | tar -cf - -T - | tar -xf - -C "build-deb/quillkit-${version%-*}"
  else
    tar -cf - --exclude=./.git --exclude='./build*' . | tar -xf - -C "build-deb/quillkit-${version%-*}"
  fi
  (cd "build-deb/quillkit-${version%-*}" && dpkg-buildpackage -us -uc -b -J"$jobs") > build-deb/build.log 2>&1 ||
    { tail -40 build-deb/build.log >&2; exit 1; }
  echo "Built build-deb/quillkit_${version}_$(dpkg --print-architecture).deb"
}

# The cart2tape property test goes through all its 200 generated cartridges
# in the GCC build, and through the first 50 in the others, whose point is
# another compiler, library, word size or the sanitizers.
fewer_cartridges=50

# The GCC build compiles the tests' own code as the build type says, as
# developers build; the clang, libspectrum 1.6.2 and 32-bit builds without
# optimisation (QUILLKIT_OPTIMIZE_TESTS=OFF), in about half the time: their
# point is the tools' code, which keeps the build type's. (The sanitizers'
# is a Debug build anyway.)
#
# valgrind runs in the libspectrum 1.6.2 stage only (see there).
test_gcc() {
  build build -DQUILLKIT_WERROR=ON
  ctest --test-dir build -j "$jobs" -LE valgrind --output-on-failure
}

test_sanitized() {
  build build-asan -DQUILLKIT_WERROR=ON -DQUILLKIT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  QUILLKIT_PROPERTY_CARTRIDGES=$fewer_cartridges ctest --test-dir build-asan -j "$jobs" \
    --output-on-failure
}

test_clang() {
  build build-clang -DQUILLKIT_WERROR=ON -DQUILLKIT_OPTIMIZE_TESTS=OFF -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
  QUILLKIT_PROPERTY_CARTRIDGES=$fewer_cartridges ctest --test-dir build-clang -j "$jobs" \
    -LE valgrind --output-on-failure
  tidy build-clang
}

# clang-tidy's checks (.clang-tidy) over every source file of the clang
# build in DIR but the tests', and the headers they include; any warning
# fails.
tidy() {  # tidy DIR
  local dir=$1 root
  # The compilation database names files by their physical paths.
  root=$(pwd -P | sed 's/[][\.*^$+?(){}|]/\\&/g')
  if ! run-clang-tidy -quiet -p "$dir" -j "$jobs" "^$root/(?!tests/)" > "$dir/clang-tidy.log" 2>&1
  then
    sed 's/\x1b\[[0-9;]*m//g' "$dir/clang-tidy.log" |
      grep -v '^clang-tidy\(-[0-9]*\)\? \|warnings\? generated\.$\|^Suppressed \|^Use -header-filter' >&2
    echo "clang-tidy found the above: see $dir/clang-tidy.log" >&2
    exit 1
  fi
  echo "clang-tidy: $(grep -c '^clang-tidy' "$dir/clang-tidy.log") files checked"
}

# Every shell script of the tree, checked with shellcheck.
check_scripts() {
  shellcheck dev.sh .ci/run fuzz/*.sh tests/*.sh bench/*.sh completions/quillkit
}

test_libspectrum_1_6_2() {
  if ! build_libspectrum 1.6.2; then
    echo "No ../shared/deps/libspectrum-1.6.2.tar.gz: the libspectrum 1.6.2 stage is left out"
    return 0
  fi
  local dir=build-libspectrum-1.6.2
  # A build configured against another copy of the library starts afresh.
  if [ "$(cat "$dir/prefix-used" 2>/dev/null)" != "$libspectrum_prefix" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    printf '%s\n' "$libspectrum_prefix" > "$dir/prefix-used"
  fi
  PKG_CONFIG_PATH=$libspectrum_prefix/lib/pkgconfig build "$dir/quillkit" -DQUILLKIT_WERROR=ON \
    -DQUILLKIT_OPTIMIZE_TESTS=OFF
  QUILLKIT_PROPERTY_CARTRIDGES=$fewer_cartridges ctest --test-dir "$dir/quillkit" -j "$jobs" \
    --output-on-failure
}

# The package is built without its checks (nocheck), as the GCC stage has
# run the same suite; that builds the way a nocheck build goes.
test_package() {
  DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }nocheck" package
  tests/package_test.sh build-deb build/tests/make_fixtures
}

# Sets cpu to the processor time, in seconds, of every command that this
# shell has run to its end (user and system time, from /proc): on a machine
# that other work shares, the time a stage costs whatever the clock says.
ticks=$(getconf CLK_TCK)
cpu_time() {
  local stat fields
  read -r stat < /proc/$$/stat
  read -ra fields <<< "${stat##*) }"
  cpu=$(((fields[13] + fields[14]) / ticks))  # cutime and cstime
}

# stage NAME COMMAND...: runs a stage of the tests and notes how long it took.
stage_times=()
stage() {
  local name=$1 start=$SECONDS cpu start_cpu
  shift
  echo "== $name"
  cpu_time
  start_cpu=$cpu
  "$@"
  cpu_time
  stage_times+=("$(printf '%5d s  %-20s (%d s of processor time)' $((SECONDS - start)) "$name" \
    $((cpu - start_cpu)))")
}

print_stage_times() {
  echo "Time of each stage:"
  printf '  %s\n' "${stage_times[@]}"
  cpu_time
  printf '%7d s  in all%14s (%d s of processor time)\n' "$SECONDS" "" "$cpu"
}

case "${1:-}" in
  demo)
    install_missing
    build build -DQUILLKIT_WERROR=ON >/dev/null
    mkdir -p build/samples
    build/tests/make_fixtures build/samples
    build/cartinfo/cartinfo build/samples/sample.mdr
    build/cartinfo/cartinfo -b build/samples/sample.mdr | sed -n 1,40p
    echo "tapeinfo -l lists the BASIC loader of build/samples/basic.tap:"
    build/tapeinfo/tapeinfo -l build/samples/basic.tap | sed -n '/^  Listing:/,$p'
    echo "cartinfo -d dumps the same program on build/samples/basic.mdr:"
    build/cartinfo/cartinfo -d build/samples/basic.mdr | sed -n '/^00000000/,$p'
    build/edgedump/edgedump build/samples/sample.tap build/samples/sample.pulses
    echo "edgedump wrote $(wc -l < build/samples/sample.pulses) lines to build/samples/sample.pulses:"
    sed -n '1,3p;8062,8070p' build/samples/sample.pulses
    build/blankide/blankide 1024 16 63 build/samples/disk.hdf
    ls -ls build/samples/disk.hdf
    build/cart2tape/cart2tape build/samples/sample.mdr build/samples/sample-files.tzx || true
    echo "cart2tape wrote build/samples/sample-files.tzx, which edgedump plays as" \
      "$(build/edgedump/edgedump build/samples/sample-files.tzx - | wc -l) edges"
    rm -rf build/samples/files && mkdir build/samples/files
    build/cartinfo/cartinfo -x build/samples/files build/samples/sample.mdr >/dev/null
    echo "cartinfo -x copied the files into build/samples/files:"
    ls -l build/samples/files
    rm -f build/samples/blank.mdr build/samples/from-tape.mdr
    build/blankcart/blankcart -n DEMO build/samples/blank.mdr
    echo "blankcart made build/samples/blank.mdr:"
    build/cartinfo/cartinfo build/samples/blank.mdr
    build/tape2cart/tape2cart build/samples/sample.tap build/samples/from-tape.mdr
    echo "tape2cart saved the files of build/samples/sample.tap onto build/samples/from-tape.mdr:"
    build/cartinfo/cartinfo build/samples/from-tape.mdr
    # Once more: the file is on the cartridge already, so nothing is written (status 1).
    build/tape2cart/tape2cart build/samples/sample.tap build/samples/from-tape.mdr || true
    build/tape2cart/tape2cart -r build/samples/sample.tap build/samples/from-tape.mdr
    echo "tape2cart -r replaced it; and the files that cart2tape wrote go onto it too:"
    build/tape2cart/tape2cart build/samples/sample-files.tzx build/samples/from-tape.mdr
    build/cartinfo/cartinfo build/samples/from-tape.mdr | sed -n '3,9p'
    echo "tapeinfo lists build/samples/sample.tap:"
    build/tapeinfo/tapeinfo build/samples/sample.tap
    echo "and with -s, one line per block, the TZX that cart2tape wrote:"
    build/tapeinfo/tapeinfo -s build/samples/sample-files.tzx
    head -c 2000 build/samples/sample-files.tzx > build/samples/cut.tzx
    echo "the same TZX cut short after 2000 bytes is listed up to the cut (status 2):"
    build/tapeinfo/tapeinfo build/samples/cut.tzx | tail -n 13 || true
    rm -rf build/samples/tape-files && mkdir build/samples/tape-files
    build/tapeinfo/tapeinfo -x build/samples/tape-files build/samples/sample-files.tzx >/dev/null
    echo "tapeinfo -x copied its files into build/samples/tape-files:"
    ls -l build/samples/tape-files
    build/tapedub/tapedub build/samples/sample.tap build/samples/sample.wav
    build/tapedub/tapedub build/samples/sample.tap build/samples/sample.tzx
    echo "tapedub made the sound of build/samples/sample.tap, and a TZX of it, which tapeinfo lists:"
    ls -l build/samples/sample.wav
    build/tapeinfo/tapeinfo -s build/samples/sample.tzx
    echo "a TAP keeps the ROM blocks only (status 2: a block was left out):"
    build/tapedub/tapedub build/samples/sample-files.tzx build/samples/sample-files.tap || true
    build/tapeinfo/tapeinfo -s build/samples/sample-files.tap | sed -n 1,8p
    ;;
  test)
    # bash-completion too: the completion test is skipped without it.
    stage "installing packages" install_missing valgrind mandoc clang libclang-rt-14-dev \
      bash-completion shellcheck clang-tidy
    stage "shellcheck" check_scripts
    stage "GCC" test_gcc
    stage "ASan and UBSan" test_sanitized
    stage "clang" test_clang
    stage "libspectrum 1.6.2" test_libspectrum_1_6_2
    stage "32-bit" test_i386
    stage "Debian package" test_package
    stage "fuzzing" fuzz/run.sh --runs 20000
    print_stage_times
    ;;
  package)
    install_missing
    package
    ;;
  *)
    echo "usage: $0 demo|test|package" >&2
    exit 2
    ;;
esac
