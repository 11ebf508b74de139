#!/usr/bin/env bash
# Compiles ahead of time (`mono --aot`) the runtime's class libraries that the wrapper loads, so
# that the tool's start-up does not spend its time in the JIT. Each image goes beside its
# assembly in the GAC (<gac>/<name>/<version>__<token>/<name>.dll.so), where the runtime looks
# for it; the runtime rejects an image that does not match its assembly or itself and compiles
# as before, so a missing or stale image costs time, never correctness.
#
# Idempotent: an image newer than the last change of its assembly and of the runtime is kept.
# A failure (no runtime, no assembler, no permission) is reported and the next assembly tried;
# the exit status is always 0, since nothing depends on the images but speed.
# Every image this script made is recorded in MANIFEST; --remove deletes exactly those.
# --list prints the assemblies (one path a line) and does nothing else.
# Usage: aot-runtime-assemblies.sh [--manifest FILE] [--remove | --list]   (as root)
set -uo pipefail

# The assemblies a backup loads besides mscorlib (precompiled by Debian) and the wrapper
# (precompiled at build), as the runtime's log (MONO_LOG_MASK=asm) lists them.
assemblies=(System System.Core System.Net.Http Newtonsoft.Json Mono.Security System.Xml System.Configuration
  System.Numerics System.Runtime.Serialization)
gac="${MONO_GAC_DIR:-/usr/lib/mono/gac}"
manifest=/var/lib/cosmos-backup/aot-images
action=compile
while [[ $# -gt 0 ]]; do
  case "$1" in
    --manifest) manifest="${2:?--manifest needs a file}"; shift 2 ;;
    --remove) action=remove; shift ;;
    --list) action=list; shift ;;
    *) echo "usage: $0 [--manifest FILE] [--remove | --list]" >&2; exit 2 ;;
  esac
done
say() { echo "aot-runtime-assemblies: $*"; }

remove_made_images() {
  [[ -f $manifest ]] || return 0
  while IFS= read -r image; do
    [[ $image == *.dll.so ]] && rm -f -- "$image"
  done <"$manifest"
  rm -f -- "$manifest"
}

# The newest change (ctime: set when a package installs the file) of the runtime's files.
runtime_changed() {
  local newest=0 f t
  for f in "$(command -v mono)" /usr/lib/libmonosgen-2.0.so.1; do
    [[ -e $f ]] || continue
    t=$(stat -L -c %Z -- "$f") && ((t > newest)) && newest=$t
  done
  echo "$newest"
}

# compile DLL: writes DLL.so unless a fresh one is there; prints what it did.
compile() {
  local dll="$1" image="$1.so" since
  since=$(runtime_changed)
  local assembly_changed; assembly_changed=$(stat -L -c %Z -- "$dll")
  ((assembly_changed > since)) && since=$assembly_changed
  if [[ -f $image ]] && (($(stat -c %Y -- "$image") > since)); then
    up_to_date=$((up_to_date + 1)); return 0
  fi
  local log; log=$(mktemp)
  # Into a file of this run first, so that a failed, interrupted or concurrent run leaves no
  # half image.
  local partial="$image.$$.tmp"
  if mono --aot=outfile="$partial" "$dll" >"$log" 2>&1 && [[ -s $partial ]] && mv -f -- "$partial" "$image"; then
    grep -qxF -- "$image" "$manifest" 2>/dev/null || echo "$image" >>"$manifest"
    say "compiled: $image"
  else
    rm -f -- "$partial"
    say "FAILED (the JIT stays in use for it): $dll: $(tail -n 3 "$log" | tr '\n' ' ')"
  fi
  rm -f -- "$log"
}

# The installed assemblies' paths, one a line; names not installed are reported on stderr.
installed_assemblies() {
  local name dll found
  for name in "${assemblies[@]}"; do
    found=no
    for dll in "$gac/$name"/*/"$name.dll"; do
      [[ -f $dll ]] && { found=yes; echo "$dll"; }
    done
    [[ $found == yes ]] || say "not installed: $name" >&2
  done
}

case $action in
  list) installed_assemblies; exit 0 ;;
  remove) remove_made_images; exit 0 ;;
esac
if ! command -v mono >/dev/null; then say "no mono runtime on PATH; nothing compiled"; exit 0; fi
if ! mkdir -p -- "$(dirname -- "$manifest")" 2>/dev/null || ! touch -- "$manifest" 2>/dev/null; then
  say "cannot write $manifest (not root?); nothing compiled"; exit 0
fi
up_to_date=0
while IFS= read -r dll; do compile "$dll"; done < <(installed_assemblies)
((up_to_date == 0)) || say "$up_to_date images up to date"
exit 0
