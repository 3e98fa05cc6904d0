#!/usr/bin/env bash
# Holds the tree to its layers (see the comment at the top of app/controller.cpp):
#  1. no device, socket, sound or USB call outside platform/ (the bench in sim/ and the
#     tests aside), and no subsystem library but platform's links ALSA or libusb;
#  2. each subsystem's CMakeLists.txt names exactly the libraries its includes need (the
#     shared record core/works.h and every *_state.h count as corvid_core's);
#  3. the shared record and its state parts include only each other, the standard
#     library and the small helpers they hold;
#  4. hooks are filled in app/ only.
# Prints every breach and exits 1 when there is one. Usage: check-layers.sh [TREE]
set -uo pipefail
cd "${1:-$(dirname "$0")/..}" || exit 2

layers=(core errors amp bands atu trx gfx scope remote system ui)
product=("${layers[@]}" app)
failed=0
breach() {
  echo "$*"
  failed=1
}

sources() { find "$@" -maxdepth 1 \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort; }

# 1. Calls only platform/ may make.
while IFS= read -r hit; do
  breach "outside platform/: $hit"
done < <(grep -nE '\bsnd_[a-z_]+\(|\blibusb_[a-z_]+\(|(^|[^A-Za-z0-9_.>])(socket|accept|accept4)\(|(^|[^A-Za-z0-9_:>.])::open\(|#include <(alsa/|libusb)' \
  $(sources "${product[@]}"))
for dir in "${product[@]}"; do
  if grep -qE 'PkgConfig::(ALSA|USB)' "$dir/CMakeLists.txt"; then
    breach "$dir/CMakeLists.txt links ALSA or libusb: only platform/ may"
  fi
done

# 2. Declared dependencies against the includes.
declared() {  # the corvid_* names after DEPS in the folder's corvid_library call(s)
  tr '\n' ' ' <"$1/CMakeLists.txt" |
    grep -oE 'corvid_library\([^)]*\)' |
    grep -oE 'DEPS[^)]*' |
    sed -E 's/SYSTEM.*//' |
    grep -oE 'corvid_[a-z]+' | sort -u
}
needed() {  # the libraries the folder's own includes come from
  local dir=$1
  grep -hoE '^#include "[a-z]+/[a-z0-9_]+\.h"' $(sources "$dir") |
    sed -E 's/#include "//; s/"$//' |
    while IFS= read -r header; do
      local owner=${header%%/*}
      case "$header" in
        core/works.h | */*_state.h) owner=core ;;
      esac
      [ "$owner" = "$dir" ] || echo "corvid_$owner"
    done | sort -u
}
for dir in "${layers[@]}"; do
  want=$(needed "$dir")
  have=$(declared "$dir")
  if [ "$want" != "$have" ]; then
    breach "$dir/CMakeLists.txt declares [$(echo $have)] but its includes need [$(echo $want)]"
  fi
done

# 3. The shared record and its parts are plain data.
helpers='core/guarded_text.h|core/setup_text.h|core/thread_set.h|platform/thread.h|platform/framebuffer.h'
for header in core/works.h $(ls */*_state.h); do
  while IFS= read -r line; do
    include=$(sed -E 's/#include "//; s/"$//' <<<"$line")
    case "$include" in
      core/works.h | */*_state.h) ;;
      *) [[ "$include" =~ ^($helpers)$ ]] || breach "$header includes $include" ;;
    esac
  done < <(grep -oE '^#include "[^"]+"' "$header")
done

# 4. Hooks are filled where the layers are joined, nowhere else.
while IFS= read -r hit; do
  breach "a hook filled outside app/: $hit"
done < <(grep -nE 'hooks\.[A-Za-z_]+ *= *[^=]' $(sources "${layers[@]}"))

if [ "$failed" -eq 0 ]; then echo "layers: ok"; fi
exit "$failed"
