# What runs the 32-bit Windows build: sourced by tools/setup-debian, whose
# helpers (as_root, apt_install, installed, update_package_lists,
# own_archive, source_line, use_private_apt, install_qemu_user) it uses.
# setup_wine32 writes two scripts into WINE32_DIR, where the windows-x86
# toolchain finds them: `wine`, which runs a 32-bit Windows program, and
# `wineserver`, the server it talks to. They run
#
# - the system's own wine32:i386, where the kernel runs 32-bit x86 programs
#   and the package archive gives it;
# - else a private wine32, unpacked from Debian's packages into WINE32_DIR
#   without installing anything, whose 32-bit programs run under qemu-i386.
#   Many kernels run no 32-bit x86 program at all, and the archive's i386
#   packages must otherwise be of the very versions of their amd64 twins.
#
# UPGRADE_INFO_WINE32=private takes the second wherever the first would
# do. A second run changes nothing and downloads nothing.

WINE32_DIR=${XDG_CACHE_HOME:-$HOME/.cache}/upgrade-info/wine32
wine32_root=$WINE32_DIR/root

# Whether the kernel runs a 32-bit x86 program: a static one that only exits.
kernel_runs_i386() {
  local probe runs=1
  probe=$(mktemp -d)
  if echo 'void _start(void) { __asm__ volatile("int $0x80" :: "a"(1), "b"(0)); }' |
    i686-linux-gnu-gcc -x c -nostdlib -static -o "$probe/exit" - &&
    "$probe/exit" 2>/dev/null; then
    runs=0
  fi
  rm -rf "$probe"
  return $runs
}

native_wine32_ready() {
  installed wine32:i386 && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Installs wine32:i386; where it cannot be had, takes the i386 architecture
# back out of dpkg if it was added for it.
install_native_wine32() {
  local added=false
  if ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
    echo "Adding the i386 architecture to dpkg, for wine32:i386"
    "${as_root[@]}" dpkg --add-architecture i386
    added=true
  fi
  update_package_lists
  if apt_install wine32:i386 && native_wine32_ready; then
    return 0
  fi
  echo "wine32:i386 cannot be installed from this machine's package sources now"
  if $added; then
    echo "Taking the i386 architecture back out of dpkg"
    "${as_root[@]}" dpkg --remove-architecture i386
  fi
  return 1
}

private_wine32_ready() { [ -e "$wine32_root/.complete" ]; }

# Copies the DLL `from` to `to` with wine's mark of a DLL of its own, as
# libwine's installation marks zlib1.dll: "Wine builtin DLL" and 16 zero
# bytes just after the 64-byte DOS header. They must land in the DOS stub,
# which no one runs, before the PE header that e_lfanew (at 60) locates,
# and nothing else may change.
mark_as_wine_builtin() {
  local from=$1 to=$2 pe_header
  pe_header=$(od -An -tu4 -j60 -N4 "$from" | tr -d ' ')
  if [ "$(head -c 2 "$from")" != MZ ] || [ "${pe_header:-0}" -lt 96 ] ||
    [ "$(od -An -tx1 -j"$pe_header" -N4 "$from" | tr -d ' ')" != 50450000 ]; then
    echo "$from has no DOS stub to hold wine's mark before its PE header" >&2
    return 1
  fi
  {
    head -c 64 "$from"
    printf 'Wine builtin DLL'
    head -c 16 /dev/zero
    tail -c +97 "$from"
  } >"$to"
  if [ "$(stat -c %s "$from")" != "$(stat -c %s "$to")" ] ||
    cmp -l "$from" "$to" | awk '$1 < 65 || $1 > 96 { changed = 1 } END { exit !changed }'; then
    echo "Marking $to changed more than its DOS stub" >&2
    return 1
  fi
}

# Unpacks wine32 and every i386 package it needs, with libz-mingw-w64 (its
# zlib1.dll, without which user32 does not load) and the amd64 wine64 of the
# same version (its 64-bit wineserver serves a 32-bit prefix), read through
# a private apt from the main suite of the machine's own archive. The
# packages and versions it took are listed in WINE32_DIR/packages.
make_private_wine32() {
  local archive apt packages
  archive=$(own_archive)
  if [ -z "$archive" ]; then
    echo "No source of $release in the package sources to take wine32 from" >&2
    return 1
  fi
  echo "Unpacking a private wine32, run under qemu-i386, into $WINE32_DIR"
  apt=$WINE32_DIR/apt
  rm -rf "$wine32_root"
  mkdir -p "$wine32_root"
  use_private_apt "$apt" "$(source_line "$archive" "$release" amd64,i386)"
  private_apt+=(-o APT::Architectures::=amd64 -o APT::Architectures::=i386)
  mkdir "$apt/debs"
  apt-get "${private_apt[@]}" update >"$apt/log" 2>&1 || { cat "$apt/log"; return 1; }
  # libelogind0 is an alternative to libsystemd0 that would bring a second
  # libsystemd.so.0.
  mapfile -t packages < <(apt-cache "${private_apt[@]}" depends --recurse \
    --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
    --no-enhances wine32:i386 libwine:i386 | grep -v '^ ' | grep ':i386$' |
    grep -v '^libelogind0:' | sort -u)
  [ ${#packages[@]} -gt 0 ] || { echo "wine32:i386 is not in $archive" >&2; return 1; }
  (cd "$apt/debs" &&
    apt-get "${private_apt[@]}" download "${packages[@]}" libz-mingw-w64 wine64:amd64) \
    >"$apt/log" 2>&1 || { cat "$apt/log"; return 1; }
  grep '^Fetched' "$apt/log" || true
  local package
  for package in "$apt/debs"/*.deb; do
    dpkg-deb -x "$package" "$wine32_root"
    dpkg-deb -W --showformat='${Package}:${Architecture} ${Version}\n' "$package"
  done >"$WINE32_DIR/packages"
  echo "Took $(wc -l <"$WINE32_DIR/packages") packages, listed in $WINE32_DIR/packages:"
  sed 's/^/  /' "$WINE32_DIR/packages"

  mark_as_wine_builtin "$wine32_root/usr/i686-w64-mingw32/lib/zlib1.dll" \
    "$wine32_root/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"

  # Wine starts each process through <bindir>/wine-preloader; here that is
  # qemu-i386 in the private root.
  printf '#!/bin/sh\nexec %s -L %s "$@"\n' "$(command -v qemu-i386)" "$wine32_root" \
    >"$wine32_root/usr/lib/wine/wine-preloader"
  printf '#!/bin/sh\nexec %s "$@"\n' "$wine32_root/usr/lib/wine/wineserver64" \
    >"$wine32_root/usr/lib/wine/wineserver"
  chmod 755 "$wine32_root/usr/lib/wine/wine-preloader" "$wine32_root/usr/lib/wine/wineserver"

  i686-linux-gnu-gcc -O2 -shared -fPIC -o "$wine32_root/usr/lib/qemu-trap-number.so" \
    "$(dirname "${BASH_SOURCE[0]}")/qemu-trap-number.c" -ldl
  echo /usr/lib/qemu-trap-number.so >"$wine32_root/etc/ld.so.preload"

  rm -rf "$apt"
  touch "$wine32_root/.complete"
}

# Writes `content` to the script `name` in WINE32_DIR, unless it holds it.
write_script() {
  local path=$WINE32_DIR/$1
  if [ "$(cat "$path" 2>/dev/null)" != "$2" ]; then
    mkdir -p "$WINE32_DIR"
    printf '%s\n' "$2" >"$path"
    chmod 755 "$path"
  fi
}

write_wine32_scripts() {
  local kind=$1 wine server environment=''
  if [ "$kind" = native ]; then
    wine=/usr/lib/wine/wine
    server=/usr/lib/wine/wineserver64
  else
    wine="$(command -v qemu-i386) -L $wine32_root $wine32_root/usr/lib/wine/wine"
    server=$wine32_root/usr/lib/wine/wineserver64
    environment="export WINELOADERNOEXEC=1 WINESERVER=$server"$'\n'
  fi
  write_script wine "#!/bin/sh
# Runs a 32-bit Windows program under the $kind wine32 (tools/wine32-runtime.bash),
# without wine's own notes unless WINEDEBUG asks for them.
export WINEARCH=win32 WINEDEBUG=\"\${WINEDEBUG:--all}\"
${environment}exec $wine \"\$@\""
  # A server that makes a new prefix makes it for the architecture that
  # WINEARCH names.
  write_script wineserver "#!/bin/sh
export WINEARCH=win32
exec $server \"\$@\""
  echo "32-bit Windows programs run under the $kind wine32: $WINE32_DIR/wine"
}

setup_wine32() {
  local forced=${UPGRADE_INFO_WINE32:-}
  if [ "$forced" != private ] && native_wine32_ready; then
    write_wine32_scripts native
  elif ! private_wine32_ready && [ "$forced" != private ] &&
    kernel_runs_i386 && install_native_wine32; then
    write_wine32_scripts native
  else
    install_qemu_user
    private_wine32_ready || make_private_wine32
    write_wine32_scripts private
    if dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user)" lt 1:8.1; then
      echo "qemu-user is older than 8.1: each 32-bit wine process takes some 45 seconds to start"
    fi
  fi
}
