# What runs the 32-bit Windows build: sourced by tools/setup-debian, whose
# helpers (as_root, apt_install, installed, update_package_lists,
# own_archive) it uses. setup_wine32 writes two scripts into WINE32_DIR,
# where the windows-x86 toolchain finds them: `wine`, which runs a 32-bit
# Windows program, and `wineserver`, the server it talks to. They run
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
  local probe=$WINE32_DIR/runs-i386
  mkdir -p "$WINE32_DIR"
  echo 'void _start(void) { __asm__ volatile("int $0x80" :: "a"(1), "b"(0)); }' |
    i686-linux-gnu-gcc -x c -nostdlib -static -o "$probe" - &&
    "$probe" 2>/dev/null
}

native_wine32_ready() {
  installed wine32:i386 && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Installs wine32:i386; where it cannot be had, takes the i386 architecture
# back out of dpkg if it was added for it.
install_native_wine32() {
  local added=false
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
    added=true
  fi
  update_package_lists
  if apt_install wine32:i386 && native_wine32_ready; then
    return 0
  fi
  echo "wine32:i386 cannot be installed from this machine's package sources now"
  if $added; then
    "${as_root[@]}" dpkg --remove-architecture i386
  fi
  return 1
}

private_wine32_ready() { [ -e "$wine32_root/.complete" ]; }

# Unpacks wine32 and every i386 package it needs, with libz-mingw-w64 (its
# zlib1.dll, without which user32 does not load) and the amd64 wine64 of the
# same version (its 64-bit wineserver serves a 32-bit prefix), read through
# a private apt state from the main suite of the machine's own archive.
make_private_wine32() {
  local archive uri keyring apt packages
  archive=$(own_archive)
  if [ -z "$archive" ]; then
    echo "No deb822 entry for $release in /etc/apt/sources.list.d to take wine32 from" >&2
    return 1
  fi
  uri=${archive%%$'\t'*}
  keyring=${archive#*$'\t'}
  echo "Unpacking a private wine32, run under qemu-i386, into $WINE32_DIR"
  apt=$WINE32_DIR/apt
  rm -rf "$wine32_root" "$apt"
  mkdir -p "$wine32_root" "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/debs"
  touch "$apt/status"
  echo "deb [arch=amd64,i386${keyring:+ signed-by=$keyring}] $uri $release main" \
    >"$apt/sources.list"
  local options=(-q -o Dir::Etc::SourceList="$apt/sources.list"
    -o Dir::Etc::SourceParts=/nonexistent -o Dir::State::Lists="$apt/lists"
    -o Dir::State::Status="$apt/status" -o Dir::Cache="$apt/cache"
    -o APT::Architectures::=amd64 -o APT::Architectures::=i386
    -o Debug::NoLocking=1)
  apt-get "${options[@]}" update >"$apt/log" 2>&1 || { cat "$apt/log"; return 1; }
  # libelogind0 is an alternative to libsystemd0 that would bring a second
  # libsystemd.so.0.
  mapfile -t packages < <(apt-cache "${options[@]}" depends --recurse \
    --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
    --no-enhances wine32:i386 libwine:i386 | grep -v '^ ' | grep ':i386$' |
    grep -v '^libelogind0:' | sort -u)
  [ ${#packages[@]} -gt 0 ] || { echo "wine32:i386 is not in $uri" >&2; return 1; }
  (cd "$apt/debs" &&
    apt-get "${options[@]}" download "${packages[@]}" libz-mingw-w64 wine64:amd64) \
    >"$apt/log" 2>&1 || { cat "$apt/log"; return 1; }
  grep '^Fetched' "$apt/log" || true
  local package
  for package in "$apt/debs"/*.deb; do
    dpkg-deb -x "$package" "$wine32_root"
  done

  # As libwine's installation does: zlib1.dll, marked as one of wine's own.
  local dll=$wine32_root/usr/i686-w64-mingw32/lib/zlib1.dll
  {
    head -c 64 "$dll"
    printf 'Wine builtin DLL'
    head -c 16 /dev/zero
    tail -c +97 "$dll"
  } >"$wine32_root/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"

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
  elif private_wine32_ready; then
    write_wine32_scripts private
  elif [ "$forced" != private ] && kernel_runs_i386 && install_native_wine32; then
    write_wine32_scripts native
  else
    make_private_wine32
    write_wine32_scripts private
  fi
}
