# shellcheck shell=bash
# The VM testbed, sourced by tests/system/run: Debian's own kernel fetched
# into a cache, an initramfs around the guest init, one boot under QEMU and
# the results it sends back.

testbed_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The Debian architecture of the guest: amd64, arm64 or armhf (the ARM ones
# under full emulation). tests/system/run sets it.
arch=${arch:-amd64}

# Modules the guest loads; their dependencies come along from modules.dep.
# hidraw is built into Debian's kernels.
guest_modules=(dummy_hcd libcomposite usb_f_hid hid usbhid hid-generic)
# And for the Debian userland, which only the amd64 guest has (it is this
# machine's own root): the host's root over virtio-9p, under an overlay.
userland_modules=(virtio virtio_ring virtio_pci 9pnet 9pnet_virtio netfs fscache 9p overlay)
[ "$arch" = amd64 ] || userland_modules=()

die() {
  echo "system test: $*" >&2
  exit 1
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    sudo "$@"
  fi
}

need_static() {  # need_static FILE
  [ -x "$1" ] || die "$1: no such program"
  if readelf -l "$1" | grep -q 'program interpreter'; then
    die "$1 is linked dynamically; the VM has no C library (build with the 'system' preset)"
  fi
}

# --- the kernel ------------------------------------------------------------

# NAME as apt names it for the guest's architecture: NAME:ARCH when foreign.
apt_name() {  # apt_name NAME
  if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    echo "$1"
  else
    echo "$1:$arch"
  fi
}

# What apt offers of NAME for this release, as apt_name's NAME=VERSION.
candidate() {  # candidate NAME
  local version
  version=$(apt-cache policy "$(apt_name "$1")" | sed -n 's/^ *Candidate: //p')
  [ -n "$version" ] && [ "$version" != "(none)" ] || return 1
  echo "$(apt_name "$1")=$version"
}

# The kernel package apt offers for this release: the one that Debian's
# kernel for the architecture depends on.
kernel_package() {
  local meta name
  case "$arch" in
    amd64) meta=linux-image-amd64 ;;
    arm64) meta=linux-image-arm64 ;;
    armhf) meta=linux-image-armmp-lpae ;;  # boards with LPAE, QEMU's virt machine among them
    *) return 1 ;;
  esac
  name=$(apt-cache depends "$(apt_name "$meta")" 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ :]*\).*$/\1/p' | head -n 1)
  [ -n "$name" ] || return 1
  candidate "$name"
}

# Writes the kernel's uncompressed ELF image (vmlinux) from its bzImage, as
# scripts/extract-vmlinux does, but going straight to the payload that the
# boot header points at. Under TCG the ELF boots in about half the time.
extract_vmlinux() {  # extract_vmlinux BZIMAGE OUT
  local setup_sects payload_offset payload_length start magic
  setup_sects=$(od -An -tu1 -j $((0x1f1)) -N1 "$1" | tr -d ' ')
  [ "$setup_sects" -eq 0 ] && setup_sects=4
  read -r payload_offset payload_length < <(od -An -tu4 -j $((0x248)) -N8 "$1")
  start=$(((setup_sects + 1) * 512 + payload_offset))
  magic=$(od -An -tx1 -j "$start" -N6 "$1" | tr -d ' \n')
  # The payload may carry the uncompressed size after the stream: decompress
  # the first stream only and judge the result by its ELF header.
  case "$magic" in
    fd377a585a00) tail -c +$((start + 1)) "$1" | head -c "$payload_length" | xz -dc --single-stream >"$2" ;;
    1f8b*) tail -c +$((start + 1)) "$1" | head -c "$payload_length" | gzip -dc >"$2" 2>/dev/null ;;
    28b52ffd*) tail -c +$((start + 1)) "$1" | head -c $((payload_length - 4)) | zstd -qdc >"$2" ;;
    *) return 1 ;;
  esac || true
  [ "$(od -An -tx1 -N4 "$2" | tr -d ' \n')" = 7f454c46 ]
}

# Copies the guest's modules and everything they depend on from an unpacked
# kernel package into DEST, uncompressed, with a modules.dep of their own.
copy_modules() {  # copy_modules TREE KVER DEST
  local tree=$1 kver=$2 dest=$3 dep name module wanted=() todo=() seen=" "
  # The package leaves modules.dep to its install script: make it here.
  /bin/busybox depmod -b "$tree" "$kver" || die "depmod failed on kernel $kver"
  dep=$tree/lib/modules/$kver/modules.dep
  for name in "${guest_modules[@]}" "${userland_modules[@]}"; do
    # modules.dep names the files as the source tree spells them, '-' or '_'.
    module=$(grep -oE "^([^:]*/)?${name//[-_]/[-_]}\.ko(\.(xz|zst|gz))?:" "$dep" | cut -d: -f1) || true
    if [ -z "$module" ]; then
      # Built in on some architectures (the guest's modprobe is told so).
      grep -qE "/${name//[-_]/[-_]}\.ko\$" "$tree/lib/modules/$kver/modules.builtin" ||
        die "kernel $kver has no module $name"
      continue
    fi
    todo+=("$module")
  done
  while [ "${#todo[@]}" -gt 0 ]; do
    module=${todo[0]}
    todo=("${todo[@]:1}")
    case "$seen" in *" $module "*) continue ;; esac
    seen+="$module "
    wanted+=("$module")
    # shellcheck disable=SC2207
    todo+=($(awk -F': *' -v m="$module" '$1 == m { print $2 }' "$dep"))
  done
  for module in "${wanted[@]}"; do
    mkdir -p "$dest/lib/modules/$kver/$(dirname "$module")"
    case "$module" in
      *.ko) cp "$tree/lib/modules/$kver/$module" "$dest/lib/modules/$kver/$module" ;;
      *.ko.xz) xz -dc "$tree/lib/modules/$kver/$module" >"$dest/lib/modules/$kver/${module%.xz}" ;;
      *.ko.zst) zstd -qdc "$tree/lib/modules/$kver/$module" >"$dest/lib/modules/$kver/${module%.zst}" ;;
      *.ko.gz) gzip -dc "$tree/lib/modules/$kver/$module" >"$dest/lib/modules/$kver/${module%.gz}" ;;
    esac
  done
  cp "$tree/lib/modules/$kver/modules.builtin" "$dest/lib/modules/$kver/"
  /bin/busybox depmod -b "$dest" "$kver" || die "depmod failed on the guest's modules"
}

# Unpacks the kernel package DEB into DIR: boot/vmlinux (or boot/vmlinuz
# when it cannot be unpacked), modules/lib/modules/KVER/..., version.
unpack_kernel() {  # unpack_kernel DEB DIR
  local deb=$1 dir=$2 tmp kver
  echo "system test: unpacking $(basename "$deb")" >&2
  tmp=$dir.unpacked
  rm -rf "$dir" "$tmp"
  mkdir -p "$tmp" "$dir/boot"
  dpkg-deb -x "$deb" "$tmp"
  kver=$(ls "$tmp/lib/modules")
  if [ -z "$kver" ] || [ "$(echo "$kver" | wc -l)" -ne 1 ]; then
    die "$deb holds no single kernel"
  fi
  cp "$tmp/boot/vmlinuz-$kver" "$dir/boot/vmlinuz"
  # QEMU boots the ARM kernels as they are.
  if [ "$arch" = amd64 ] && ! extract_vmlinux "$dir/boot/vmlinuz" "$dir/boot/vmlinux"; then
    echo "system test: cannot unpack vmlinux; booting the compressed kernel" >&2
    rm -f "$dir/boot/vmlinux"
  fi
  copy_modules "$tmp" "$kver" "$dir/modules"
  echo "$kver" >"$dir/version"
  rm -rf "$tmp"
  module_list >"$dir/ready"
}

# What a prepared kernel's "ready" says: the modules it was prepared with.
module_list() {
  echo "${guest_modules[*]} ${userland_modules[*]}"
}

# Downloads NAME=VERSION into CACHE/debs/NAME=VERSION/ unless it is there.
fetch_package() {  # fetch_package CACHE NAME=VERSION
  local into=$1/debs/$2 sandbox=()
  compgen -G "$into/*.deb" >/dev/null && return 0
  echo "system test: fetching $2" >&2
  rm -rf "$into"
  mkdir -p "$into"
  [ "$(id -u)" -eq 0 ] && sandbox=(-o APT::Sandbox::User=root)
  (cd "$into" && timeout 900 apt-get -q "${sandbox[@]}" download "$2" >/dev/null)
}

# Sets fetched_deb to the package that COMMAND names (as NAME=VERSION) for
# this release, downloaded into CACHE once, and fetched_package to its
# NAME=VERSION.
fetch_current() {  # fetch_current CACHE COMMAND...
  local cache=$1 package
  shift
  package=$("$@") || package=""
  if [ -z "$package" ] || ! fetch_package "$cache" "$package"; then
    # No lists yet, or lists that name a version the archive no longer has.
    as_root timeout 900 apt-get update -q >/dev/null || true
    package=$("$@") || die "apt offers no package for '$*' ($arch) in this release"
    fetch_package "$cache" "$package" || die "cannot download $package"
  fi
  fetched_package=$package
  fetched_deb=$(compgen -G "$cache/debs/$package/*.deb" | head -n 1)
}

# Sets kernel_dir to a prepared kernel in CACHE (see unpack_kernel), the one
# that apt offers now, and guest_busybox to a static busybox for the guest.
# Fetches and prepares each once; later runs reuse them.
prepare_kernel() {  # prepare_kernel CACHE
  local cache=$1 lock tmp
  mkdir -p "$cache"
  exec {lock}>"$cache/.lock"
  flock -w 900 "$lock" || die "$cache is locked by another run"

  fetch_current "$cache" kernel_package
  kernel_dir=$cache/${fetched_package/=/_}
  if [ "$(cat "$kernel_dir/ready" 2>/dev/null)" != "$(module_list)" ]; then
    unpack_kernel "$fetched_deb" "$kernel_dir"
  fi

  if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    guest_busybox=/bin/busybox  # busybox-static, installed
  else
    fetch_current "$cache" candidate busybox-static
    guest_busybox=$cache/${fetched_package/=/_}/busybox
    mkdir -p "$(dirname "$guest_busybox")"
    if [ ! -x "$guest_busybox" ]; then
      tmp=$(mktemp -d)
      dpkg-deb -x "$fetched_deb" "$tmp" && cp "$tmp/bin/busybox" "$guest_busybox.new" &&
        mv "$guest_busybox.new" "$guest_busybox" || die "no busybox in $fetched_deb"
      rm -rf "$tmp"
    fi
  fi
  exec {lock}>&-
}

kernel_image() {
  if [ -e "$kernel_dir/boot/vmlinux" ]; then
    echo "$kernel_dir/boot/vmlinux"
  else
    echo "$kernel_dir/boot/vmlinuz"
  fi
}

# --- the initramfs ---------------------------------------------------------

# The controllers and the one foreign HID device: name, vendor, product,
# manufacturer string.
gadget_table() {
  printf '%s\n' \
    "other 0x6666 0xf101 Other Corp" \
    "ctl0 0x6666 0xf100 Tavo Systems Ltd" \
    "ctl1 0x6666 0xf100 ${second_manufacturer}"
}
# Not plain ASCII, to see what the manufacturer line makes of it.
second_manufacturer=$'T\xc3\xa4vo Zwei'

# A vendor-defined collection with one 8-byte output report and no report
# IDs, the controller's shape.
report_descriptor() {
  printf '\x06\x00\xff'  # Usage Page (Vendor 0xFF00)
  printf '\x09\x01'      # Usage (1)
  printf '\xa1\x01'      # Collection (Application)
  printf '\x15\x00'      #   Logical Minimum (0)
  printf '\x26\xff\x00'  #   Logical Maximum (255)
  printf '\x75\x08'      #   Report Size (8)
  printf '\x95\x08'      #   Report Count (8)
  printf '\x09\x02'      #   Usage (2)
  printf '\x91\x02'      #   Output (Data, Variable, Absolute)
  printf '\xc0'          # End Collection
}

# Lays out the guest's root in ROOT: busybox, the modules, the programs and
# init. The caller adds what the guest is to do under ROOT/testbed.
make_guest_root() {  # make_guest_root ROOT TAVOCTL HELPERS_DIR
  local root=$1 program
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,testbed}
  need_static "$guest_busybox"
  cp "$guest_busybox" "$root/bin/busybox"
  need_static "$2"
  cp "$2" "$root/bin/tavoctl"
  for program in gadget_reader timed_run plain_writer; do
    need_static "$3/$program"
    cp "$3/$program" "$root/bin/$program"
  done
  cp -R "$kernel_dir/modules/lib" "$root/lib"
  cp "$testbed_dir/guest/init" "$root/init"
  chmod 755 "$root/init"
  gadget_table >"$root/testbed/gadgets"
  report_descriptor >"$root/testbed/report_desc"
}

# A Wine prefix for the guest's userland, made once and reused: winebus is
# to use hidraw (it does not while SDL is enabled and libSDL2 is installed)
# and to watch /dev itself, since the guest runs no udevd.
prepare_wine_prefix() {  # prepare_wine_prefix DIR
  local dir=$1 wine=$testbed_dir/../windows/wine key='HKLM\System\CurrentControlSet\Services\winebus'
  [ -e "$dir/.testbed-ready" ] && return 0
  # The guest runs Wine as root, and Wine takes only a prefix of its own user.
  [ "$(id -u)" -eq 0 ] || die "the Windows build's run needs root (sudo)"
  echo "system test: making the Wine prefix $dir" >&2
  "$wine" "$dir" create
  "$wine" "$dir" run reg add "$key" /v "Enable SDL" /t REG_DWORD /d 0 /f >/dev/null
  "$wine" "$dir" run reg add "$key" /v DisableUdevd /t REG_DWORD /d 1 /f >/dev/null
  "$wine" "$dir" stop  # the server writes the registry out as it ends
  grep -q '^"DisableUdevd"=dword:00000001' "$dir/system.reg" || die "the Wine prefix $dir lacks its settings"
  # The registry as made, for each new Wine in the guest to start from.
  mkdir -p "$dir/.testbed-registry"
  cp "$dir"/*.reg "$dir/.testbed-registry/"
  touch "$dir/.testbed-ready"
}

# Installs MSI (msiexec /i /qn) in the prefix of prepare_wine_prefix as it
# was made (registry of .testbed-registry, no earlier install); on the host,
# as a Wine started for it in the guest costs half a minute. Each new Wine in
# the guest starts from the registry then, kept in .testbed-installed.
install_in_wine_prefix() {  # install_in_wine_prefix DIR MSI
  local dir=$1 msi=$2 wine=$testbed_dir/../windows/wine
  "$wine" "$dir" stop
  cp "$dir"/.testbed-registry/*.reg "$dir/"
  rm -rf "$dir/drive_c/Program Files/tavoctl" "$dir/drive_c/windows/Installer" "$dir/.testbed-installed"
  "$wine" "$dir" run msiexec /i "Z:${msi//\//\\}" /qn || die "msiexec could not install $msi in $dir"
  "$wine" "$dir" stop  # the server writes the registry out as it ends
  [ -f "$dir/drive_c/Program Files/tavoctl/tavoctl.exe" ] || die "$msi installed no tavoctl.exe in $dir"
  mkdir "$dir/.testbed-installed"
  cp "$dir"/*.reg "$dir/.testbed-installed/"
}

pack_initramfs() {  # pack_initramfs ROOT OUT
  (cd "$1" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$2"
}

# --- one boot --------------------------------------------------------------

# Boots the guest and waits for it to power off, at most SECONDS. Leaves the
# console in WORK/console.log and the results channel in WORK/results.log.
# With "userland", the guest also gets the host's root file system (see the
# guest's init) and the room that Wine needs.
boot_guest() {  # boot_guest WORK SECONDS [userland]
  local work=$1 status=0 qemu=qemu-system-x86_64 machine=(-accel tcg -m 512) console=ttyS0 serial
  rm -f "$work/console.log" "$work/results.log"
  # The results channel is the second serial port; QEMU's ARM board has
  # one, which carries both (the kernel all but silenced: see decode_results).
  serial=(-serial "file:$work/console.log" -serial "file:$work/results.log")
  case "$arch" in
    arm64) qemu=qemu-system-aarch64 machine=(-accel tcg -M virt -cpu cortex-a57 -m 512) ;;
    armhf) qemu=qemu-system-arm machine=(-accel tcg -M virt -cpu cortex-a15 -m 512) ;;
  esac
  if [ "$arch" != amd64 ]; then
    console="ttyAMA0 loglevel=1 testbed_results=ttyAMA0"
    serial=(-serial "file:$work/results.log")
    ln -s results.log "$work/console.log"
  fi
  if [ "${3:-}" = userland ]; then
    # Under TCG every Wine process dies in a kernel oops at the return from
    # its system calls while the guest CPU offers SMAP.
    machine=(-accel tcg -cpu max,smap=off -m 2048
      -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap)
  fi
  # TCG: /dev/kvm here may be nested, where a stock kernel hangs silently.
  # One vCPU: gadget_reader's timestamps rely on it (see there).
  timeout -k 10 "$2" "$qemu" \
    "${machine[@]}" -smp 1 -nodefaults -no-user-config -display none -no-reboot \
    -kernel "$(kernel_image)" -initrd "$work/initramfs.cpio" \
    -append "panic=-1 loglevel=4 console=$console" "${serial[@]}" \
    </dev/null >"$work/qemu.log" 2>&1 || status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "system test: the VM did not finish within $2 s" >&2
  elif [ "$status" -ne 0 ]; then
    echo "system test: qemu failed (status $status):" >&2
    cat "$work/qemu.log" >&2
  fi
  return "$status"
}

# Unpacks the results channel into DIR/NAME/FILE. Fails, showing the console,
# if the guest gave up or never finished.
decode_results() {  # decode_results WORK DIR
  local work=$1 dir=$2 line file="" fatal=""
  rm -rf "$dir"
  mkdir -p "$dir"
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%$'\r'}
    case "$line" in
      "@@file "*)
        file=$dir/${line#@@file }
        mkdir -p "$(dirname "$file")"
        : >"$file.b64"
        ;;
      "@@end")
        base64 -d "$file.b64" >"$file" || die "corrupt result $file"
        rm -f "$file.b64"
        file=""
        ;;
      "@@fatal "*) fatal=${line#@@fatal } ;;
      "@@done") touch "$dir/.done" ;;
      "@@"*) ;;
      # Only base64 belongs in a file: on a channel shared with the console
      # another line may come between.
      *) [ -n "$file" ] && [[ "$line" =~ ^[A-Za-z0-9+/=]+$ ]] && echo "$line" >>"$file.b64" ;;
    esac
  done <"$work/results.log"
  if [ -n "$fatal" ] || [ ! -e "$dir/.done" ]; then
    echo "system test: the testbed failed: ${fatal:-the guest stopped before it was done}" >&2
    echo "--- last lines of the VM's console:" >&2
    tail -n 40 "$work/console.log" >&2
    return 1
  fi
}
