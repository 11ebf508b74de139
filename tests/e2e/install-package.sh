#!/usr/bin/env bash
# The tool as users install it: the Debian package made by CPack is installed on this machine,
# and /usr/bin/cosmos-backup backs up, restores and verifies a container with the build tree
# hidden (an empty file system mounted over it, in a mount namespace of the test's own); a copy
# of the build tree's bin/ and lib/ runs from elsewhere as well. The package's postinst compiles
# a class library's image that is missing (one is moved away first), and removing the package
# removes exactly the images it made. The package is removed again at the end and the moved
# image put back. Needs root (dpkg, mount); fails, never skips, without it.
# Prints one line per case and "N passed, N failed".
# Usage: install-package.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: install-package.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
installed=""
held=""   # a class library's image moved away before the installation, put back at the end
cleanup() {
  [[ -n $installed ]] && dpkg -r cosmos-backup >/dev/null 2>&1
  [[ -n $held && -f $work/held.so ]] && mv -f -- "$work/held.so" "$held"
  rm -rf "$work"
}
trap cleanup EXIT

passed=0 failed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1"; failed=$((failed + 1)); }
finish() { echo "$passed passed, $failed failed"; [[ $failed == 0 ]]; exit; }

if [[ $(id -u) != 0 ]]; then fail "installing the package needs root"; finish; fi
mapfile -t assemblies < <(bash "$here/../../scripts/aot-runtime-assemblies.sh" --list 2>/dev/null)
kept="${assemblies[0]}.so"
if [[ ${#assemblies[@]} -gt 1 && -f ${assemblies[-1]}.so ]]; then
  held="${assemblies[-1]}.so"
  mv -- "$held" "$work/held.so" || held=""
fi
if (cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) \
   && deb=$(ls "$work"/package/cosmos-backup_*.deb 2>/dev/null) && dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
  installed=yes
  pass "the Debian package builds and installs"
else
  fail "package: $(tail -3 "$work/cpack.log" "$work/dpkg.log" 2>/dev/null)"; finish
fi

package_manifest=/var/lib/cosmos-backup/package-aot-images
if [[ -z $held ]]; then
  fail "no class library image to move away (run scripts/aot-runtime-assemblies.sh as root)"
elif [[ -s $held ]] && grep -qxF -- "$held" "$package_manifest" 2>/dev/null; then
  pass "the postinst compiles the missing image $(basename "$held")"
else
  fail "the postinst did not compile $held: $(grep aot-runtime "$work/dpkg.log" | tail -3)"
fi

runpath=$(readelf -d /usr/bin/cosmos-backup | grep -o 'RUNPATH.*')
[[ $runpath == *'$ORIGIN/../lib/cosmos-backup'* ]] \
  && pass "the installed tool finds its library relative to itself" || fail "RUNPATH: $runpath"

# The copied build tree: bin/ and lib/ side by side anywhere.
mkdir -p "$work/copy"
cp -r "$build/bin" "$build/lib" "$work/copy/"

export CLOUDSDK_LOG="$work/bridge.log" INSTALL_BUILD="$build" INSTALL_WORK="$work"
unset CLOUDSDK_HOME LD_LIBRARY_PATH MONO_PATH
"$here/scripted/with-scripted-server.sh" -- bash -c '
  cd "$INSTALL_WORK"
  node '"$here"'/scripted/cli.js seed --db d --coll c --count 500 >/dev/null || { echo "FAIL seeding"; exit 1; }
  # The build tree is out of sight for everything below.
  exec unshare --mount --propagation private bash -c "
    mount -t tmpfs none \"\$INSTALL_BUILD\" || { echo \"FAIL hiding the build tree\"; exit 1; }
    ok=0
    tool=(/usr/bin/cosmos-backup --insecure-skip-tls-verify)
    if \"\${tool[@]}\" backup --database d --container c --out backup >backup.out 2>&1 &&
       \"\${tool[@]}\" restore --from backup --database d2 --container c >restore.out 2>&1 &&
       \"\${tool[@]}\" verify --from backup --database d2 --container c >verify.out 2>&1 &&
       grep -q \"500 equal, 0 problems\" verify.out; then
      echo \"PASS /usr/bin/cosmos-backup backs up, restores and verifies 500 items\"
    else
      echo \"FAIL installed tool: \$(tail -2 backup.out restore.out verify.out 2>/dev/null)\"; ok=1
    fi
    if copy/bin/cosmos-backup --insecure-skip-tls-verify list-databases >list.out 2>&1 && grep -qx d2 list.out; then
      echo \"PASS a copied bin/ and lib/ run from elsewhere\"
    else
      echo \"FAIL copied tree: \$(tail -2 list.out)\"; ok=1
    fi
    exit \$ok
  "
' | tee "$work/cases.out"
inner_passed=$(grep -c '^PASS' "$work/cases.out") inner_failed=$(grep -c '^FAIL' "$work/cases.out")
passed=$((passed + inner_passed)) failed=$((failed + inner_failed))
(( inner_passed + inner_failed >= 2 )) || fail "the cases against the server did not all run"

if dpkg -r cosmos-backup >"$work/remove.log" 2>&1; then
  installed=""
  if [[ -n $held && ! -e $held && ! -e $package_manifest && -f $kept ]]; then
    pass "removing the package removes exactly the images it made"
  else
    fail "after removal: $(ls -d "$held" "$package_manifest" 2>/dev/null) still there, or $kept gone"
  fi
else
  fail "dpkg -r: $(tail -3 "$work/remove.log")"
fi
finish
