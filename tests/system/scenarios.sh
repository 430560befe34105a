# shellcheck shell=bash
# What tavoctl must do on a real kernel, sourced by tests/system/run.
#
# Each scenario names the gadgets plugged in (in this order, which is the
# hidraw order and so tavoctl's enumeration order), tavoctl's arguments, an
# optional fault, and what must come of it. Unless stated otherwise a
# scenario expects status 0, empty stdout and stderr, and no reports at any
# plugged gadget. Reports are the 8 bytes a gadget receives: the frame less
# its report ID.
#
#   scenario NAME "GADGET..." -- ARG...   ("keep": as the scenario before left them)
#   userland                      run in the guest's Debian userland (a chroot)
#   before COMMAND                a shell command run there first
#   runs ARG...                   run ARG... instead of tavoctl with its arguments
#   only linux|wine STEP...       a step for the Linux build alone, or for
#                                 tavoctl.exe under Wine (tests/system/run --windows)
#   skip linux|wine REASON        the scenario does not run for that build
#   fault stall GADGET            GADGET never reads while tavoctl runs
#   fault unplug GADGET N         GADGET is unplugged once N reports arrived
#   fault kill GADGET N ARG...    first a run with ARG... (no spaces), killed
#                                 with SIGKILL once GADGET got N reports
#   fault replug GADGET N PIDFILE GADGET is unplugged once N reports arrived,
#                                 with the process in PIDFILE (a guest path)
#                                 stopped meanwhile, then plugged in again
#   fault freeze GADGET N PIDFILE the process in PIDFILE is stopped once GADGET
#                                 got N reports, for the run to go on with
#   at_once ARG...                one more run (ARG... without spaces), started
#                                 together with the scenario's own; all must
#                                 end with status 0 and print nothing
#   status N
#   stdout LINE...                each LINE ends with a newline
#   stderr LINE...
#   reports GADGET REPORT...
#   pause GADGET N MS             at least MS between reports N-1 and N (from 0)
#   channels GADGET OUTPUT CH...  for runs at once, instead of reports: OUTPUT
#                                 of GADGET gets each channel change CH once,
#                                 whole, one after another in any order, with
#                                 at least 2000 ms before each 'Backup'; the
#                                 changes on the two outputs overlap in time

# The command report for a code, as the controller receives it.
cmd() {  # cmd OUTPUT CODE
  local code=$((16#$2))
  printf '%02x %02x %02x 7a 7a 7a 7a 7a' $((0x30 + $1)) $((code >> 8)) $((code & 0xff))
}

setup_a0="73 4b 96 96 05 dc 0a 8b"
setup_b0="75 01 7a 7a 7a 7a 7a 7a"
setup_a1="74 4b 96 96 05 dc 0a 8b"
setup_b1="76 01 7a 7a 7a 7a 7a 7a"

scenario codes_to_output_0 "ctl0" -- 0001 0C03 ffff
reports ctl0 "$(cmd 0 0001)" "$(cmd 0 0c03)" "$(cmd 0 ffff)"

scenario codes_to_output_1 "ctl0" -- --box 1 0C03 0C05 0C06
reports ctl0 "$(cmd 1 0c03)" "$(cmd 1 0c05)" "$(cmd 1 0c06)"

scenario controller_1_of_two "ctl0 ctl1" -- --controller 1 --box 1 0C03
reports ctl1 "$(cmd 1 0c03)"

scenario controller_0_of_two "ctl0 ctl1" -- --controller 0 0080
reports ctl0 "$(cmd 0 0080)"

scenario foreign_device_not_counted "ctl0 other ctl1" -- --controller 1 0002
reports ctl1 "$(cmd 0 0002)"

scenario foreign_device_first "other ctl0" -- 0003
reports ctl0 "$(cmd 0 0003)"

# The guest has no locale, so its terminal is taken for one that shows ASCII
# alone: the a-umlaut of ctl1's manufacturer (testbed.sh) shows as '?'.
scenario debug_trace "other ctl0 ctl1" -- --debug --controller 1 --box 1 0C03 0080
stdout "Found device: 6666-f101" \
  "Found device: 6666-f100" \
  "Found tavo control num 0" \
  "Found device: 6666-f100" \
  "Found tavo control num 1" \
  "- Manufacturer : T?vo Zwei" \
  "sending code 0c03 to output 1" \
  "sending cmd 0c03 to output 1: bytes 49, 12, 3" \
  "sending code 0080 to output 1" \
  "sending cmd 0080 to output 1: bytes 49, 0, 128"
# Wine lists the HID devices in the order of their IDs, not of their arrival
# as Windows does, and its hidraw bridge names every manufacturer "hidraw".
only wine stdout "Found device: 6666-f100" \
  "Found tavo control num 0" \
  "Found device: 6666-f100" \
  "Found tavo control num 1" \
  "- Manufacturer : hidraw" \
  "sending code 0c03 to output 1" \
  "sending cmd 0c03 to output 1: bytes 49, 12, 3" \
  "sending code 0080 to output 1" \
  "sending cmd 0080 to output 1: bytes 49, 0, 128"
reports ctl1 "$(cmd 1 0c03)" "$(cmd 1 0080)"

scenario debug_stops_at_the_controller "ctl0 other" -- --debug
stdout "Found device: 6666-f100" \
  "Found tavo control num 0" \
  "- Manufacturer : Tavo Systems Ltd"
only wine stdout "Found device: 6666-f100" \
  "Found tavo control num 0" \
  "- Manufacturer : hidraw"  # Wine's bridge; Windows gives the device's string

scenario channel_tavo "ctl0" -- --channel 123
reports ctl0 "$(cmd 0 0080)" "$(cmd 0 0001)" "$(cmd 0 0002)" "$(cmd 0 0003)" "$(cmd 0 0083)"
pause ctl0 4 2000

scenario channel_tavo_plus "ctl0" -- --tavo+ --box 1 --channel 356
reports ctl0 "$(cmd 1 0c80)" "$(cmd 1 0c03)" "$(cmd 1 0c05)" "$(cmd 1 0c06)" "$(cmd 1 0c83)"
pause ctl0 4 2000

# A slow box's timing: the gap before each digit, the pause alone before 'Backup'.
scenario channel_gap_and_pause "ctl0" -- --gap 300 --pause 500 --channel 12
reports ctl0 "$(cmd 0 0080)" "$(cmd 0 0001)" "$(cmd 0 0002)" "$(cmd 0 0083)"
pause ctl0 1 300
pause ctl0 2 300
pause ctl0 3 500

# A recorder's tuners and a person, all at once: eight channel changes, four
# per output of one controller. Without the output hold their keys mix.
scenario eight_channel_changes_at_once "ctl0" -- --channel 7
skip wine "the runs alongside are the Linux build's"
at_once --box 1 --tavo+ --channel 60
at_once --channel 4085
at_once --box 1 --tavo+ --channel 123
at_once --channel 12
at_once --box 1 --tavo+ --channel 9
at_once --channel 305
at_once --box 1 --tavo+ --channel 2468
channels ctl0 0 7 4085 12 305
channels ctl0 1 60 123 9 2468

# A run killed in its pause holds the output no longer.
scenario killed_run_frees_its_output "ctl0" -- --channel 34
skip wine "the run killed is the Linux build's"
fault kill ctl0 3 --channel 12
reports ctl0 "$(cmd 0 0080)" "$(cmd 0 0001)" "$(cmd 0 0002)" \
  "$(cmd 0 0080)" "$(cmd 0 0003)" "$(cmd 0 0004)" "$(cmd 0 0083)"
pause ctl0 6 2000

scenario setup_output_0_then_codes "ctl0" -- --setup 0001 0002
reports ctl0 "$setup_a0" "$setup_b0" "$(cmd 0 0001)" "$(cmd 0 0002)"

scenario setup_output_1_then_codes "ctl0" -- --setup --box 1 0C03
reports ctl0 "$setup_a1" "$setup_b1" "$(cmd 1 0c03)"

scenario invalid_code_after_valid "ctl0" -- 0001 0002 zz 0003
status 1
stderr "Invalid command code: 'zz'"
reports ctl0 "$(cmd 0 0001)" "$(cmd 0 0002)"

scenario unplugged_during_pause "ctl0" -- --channel 12
fault unplug ctl0 3
status 1
stdout "WriteFile failed (0 / 0) : 19"
stderr "tavo_usb_sendcommand failed: No such device"
# Wine fails the write with 5 (ERROR_ACCESS_DENIED); Windows with 1167
# (ERROR_DEVICE_NOT_CONNECTED).
only wine stdout "WriteFile failed (0 / 0) : 5"
only wine stderr "tavo_usb_sendcommand failed: Input/output error"
reports ctl0 "$(cmd 0 0080)" "$(cmd 0 0001)" "$(cmd 0 0002)"

# Right after that unplug, on the gadgets as it left them.
scenario next_run_after_the_unplug "keep" -- 0001
status 1
stderr "tavo_usb_finddevice(0) failed to find device 6666-f100" \
  "unable to find tavo controller number 0"

# f_hid keeps four OUT requests queued; the fifth report finds none and the
# host gives up on it after usbhid's 5 s.
scenario stalled_controller "ctl0" -- 0001 0002 0003 0004 0005 0006
fault stall ctl0
status 1
stdout "WriteFile failed (0 / 0) : 110"
stderr "tavo_usb_sendcommand failed: Connection timed out"
# Wine completes the write only when its own write() to hidraw returns, so
# tavoctl.exe's 5 s bound never fires: the kernel's 5 s timeout ends it with
# 31 (ERROR_GEN_FAILURE). On Windows the bound gives 258 (WAIT_TIMEOUT) and
# "Resource temporarily unavailable".
only wine stdout "WriteFile failed (0 / 0) : 31"
only wine stderr "tavo_usb_sendcommand failed: Input/output error"
reports ctl0 "$(cmd 0 0001)" "$(cmd 0 0002)" "$(cmd 0 0003)" "$(cmd 0 0004)"

scenario no_hid_devices "" -- 0001
status 1
stderr "tavo_usb_finddevice(0) failed to find device 6666-f100" \
  "unable to find tavo controller number 0"

scenario only_a_foreign_device "other" -- --debug 0001
status 1
stdout "Found device: 6666-f101"
# Wine's own virtual mouse and keyboard are HID devices too (Windows keeps
# its keyboards and mice to itself).
only wine stdout "Found device: 6666-f101" "Found device: 845e-0001" "Found device: 845e-0002"
stderr "tavo_usb_finddevice(0) failed to find device 6666-f100" \
  "unable to find tavo controller number 0"

scenario controller_past_the_last "ctl0 other ctl1" -- --controller 2 0001
status 1
stderr "tavo_usb_finddevice(2) failed to find device 6666-f100" \
  "unable to find tavo controller number 2"

# --list shows what the kernel and each gadget tell: the hidraw node, the USB
# device's name in sysfs (each gadget is alone on its own dummy_hcd bus), the
# manufacturer, the product (the gadget's name) and the serial (its index).
tab=$'\t'
scenario list_two_controllers_among_others "ctl0 other ctl1" -- --list
skip wine "the list shows Linux's device paths and names"
stdout "0${tab}/dev/hidraw0${tab}2-1${tab}Tavo Systems Ltd${tab}ctl0${tab}1" \
  "1${tab}/dev/hidraw2${tab}3-1${tab}T?vo Zwei${tab}ctl1${tab}2"  # no locale: ASCII

# In a UTF-8 locale the name comes as the device sent it: in the Debian
# userland, whose C.UTF-8 is installed (the guest's busybox room has no
# locales at all) and set in LANG.
scenario list_in_a_utf8_locale "ctl0 other ctl1" -- --list
userland
skip wine "the list shows Linux's device paths and names"
runs /testbed/bin/tavoctl --list
# shellcheck disable=SC2154 # second_manufacturer: testbed.sh's gadget table
stdout "0${tab}/dev/hidraw0${tab}2-1${tab}Tavo Systems Ltd${tab}ctl0${tab}1" \
  "1${tab}/dev/hidraw2${tab}3-1${tab}${second_manufacturer}${tab}ctl1${tab}2"

# Started with standard output closed, as daemons start hooks: the hidraw node
# opened first does not take its place, so the trace goes nowhere (and the
# status says so) instead of into the controller.
scenario debug_with_stdout_closed "other ctl0" --
skip wine "Windows opens devices as handles, never in a closed descriptor's place"
runs /bin/sh -c "exec tavoctl --debug 0C03 >&-"
status 1
stderr "write error on standard output: Bad file descriptor"
reports ctl0 "$(cmd 0 0c03)"

scenario list_nothing "other" -- --list
skip wine "the list shows Linux's device paths and names"

scenario path_by_hidraw_node "ctl0 other ctl1" -- --path /dev/hidraw2 --box 1 0C03
skip wine "Linux device paths"
reports ctl1 "$(cmd 1 0c03)"

scenario path_to_the_foreign_device "other ctl0" -- --path /dev/hidraw0 0001
skip wine "Linux device paths"
status 1
stderr "tavo_usb_opendevice('/dev/hidraw0'): device 6666-f101 is not a tavo controller (6666-f100)" \
  "unable to open tavo controller at '/dev/hidraw0'"

# The gadget's end of the same controller is a character device too, but no
# hidraw node.
scenario path_to_a_gadget_node "ctl0" -- --path /dev/hidg1 0001
skip wine "Linux device paths"
status 1
stderr "tavo_usb_opendevice('/dev/hidg1'): not a HID device" \
  "unable to open tavo controller at '/dev/hidg1'"

# The udev rule as a recorder meets it: the .deb installed with dpkg in the
# guest's Debian userland while udevd runs there, so that its maintainer
# script applies the rule to the controller already plugged in. The
# controller's node gets group plugdev and mode 0660 and a link by USB port
# and by serial; the foreign HID device stays root's alone. A user in plugdev
# sends a code through the link and lists the controller, without a word of
# the udev rule for the foreign device that refuses it; one outside it gets
# the path error and nothing is sent. Last in the table: udevd then stops,
# and no later scenario runs under its rules.
ctl0_link=/dev/tavo/by-path/platform-dummy_hcd.1-usb-0:1:1.0  # ctl0 is the testbed's second gadget
scenario udev_rule_from_the_package "ctl0 other" --
userland
skip wine "the udev rule is Linux's"
# shellcheck disable=SC2154 # deb, lirc_deb, mqtt_deb: set by tests/system/run
[ -n "$deb" ] || skip linux "no .deb to install (--deb FILE)"
# udevadm ignores requests in a chroot unless told that this one is meant.
# The lircd driver's and the MQTT service's packages come along, for the
# scenarios after this one.
before "export SYSTEMD_IGNORE_CHROOT=1; /lib/systemd/systemd-udevd --daemon &&
dpkg -i '$deb' $lirc_deb $mqtt_deb >/dev/null && udevadm settle --timeout=30"
# Each argument of 'runs' takes one line: the script is built on one.
check="stat -c '%G %a' \"\$(readlink -f '$ctl0_link')\" /dev/hidraw1; ls /dev/tavo/by-serial; "
check+="setpriv --reuid=1000 --regid=1000 --groups=46 /usr/bin/tavoctl --path '$ctl0_link' 0001; "
check+="echo \"in plugdev: \$?\"; "
check+="setpriv --reuid=1000 --regid=1000 --groups=46 /usr/bin/tavoctl --list; "
check+="setpriv --reuid=1001 --regid=1001 --clear-groups /usr/bin/tavoctl --path '$ctl0_link' 0002; "
check+="echo \"outside plugdev: \$?\"; SYSTEMD_IGNORE_CHROOT=1 udevadm control --exit"
runs /bin/sh -c "$check"
stdout "plugdev 660" "root 600" "1" "in plugdev: 0" \
  "0${tab}/dev/hidraw0${tab}2-1${tab}Tavo Systems Ltd${tab}ctl0${tab}1" "outside plugdev: 1"
stderr "tavo_usb_opendevice('$ctl0_link'): Permission denied" \
  "unable to open tavo controller at '$ctl0_link'"
reports ctl0 "$(cmd 0 0001)"

# service_scenario NAME "GADGET..." WRAPPER WHAT PACKAGE NO_PACKAGE CLIENT
# [SETTING...]: CLIENT, a shell command line, against the service that the
# guest's WRAPPER runs from its package, with SETTING... added to its
# configuration. WHAT names the service and NO_PACKAGE says why a build made
# no PACKAGE, for the skips.
service_scenario() {
  local name=$1 plug=$2 wrapper=$3 what=$4 package=$5 no_package=$6 client=$7
  shift 7
  scenario "$name" "$plug" --
  userland
  skip wine "$what is the Linux build's"
  [ -n "$package" ] || skip linux "$no_package"
  runs /bin/sh "$testbed_dir/guest/$wrapper" "$@" -- "$client"
}

# --- lircd ---------------------------------------------------------------
# Debian's own lircd and irsend, with the tavo driver from the package that
# the scenario before installed, set up as README says (see
# guest/with_lircd, which adds lircd's warnings and errors to stderr).

# lirc_scenario NAME "GADGET..." CLIENT [SETTING...]: against lircd with
# driver tavo and SETTING... (default: the first gadget's hidraw node as its
# device).
lirc_scenario() {
  local name=$1 plug=$2 client=$3
  shift 3
  [ $# -gt 0 ] || set -- "device = /dev/hidraw0"
  # shellcheck disable=SC2154 # lirc_deb: set by tests/system/run
  service_scenario "$name" "$plug" with_lircd "the lircd driver" "$lirc_deb" \
    "no tavoctl-lirc package (it needs liblirc-dev to build)" "$client" "$@"
}
digits() {  # digits OUTPUT BASE: the command reports of keys 0 to 9 of a code set
  local digit
  for digit in 0 1 2 3 4 5 6 7 8 9; do
    echo "$(cmd "$1" "$(printf '%04x' $(($2 + digit)))")"
  done
}
all_keys="TAVO KEY_0 KEY_1 KEY_2 KEY_3 KEY_4 KEY_5 KEY_6 KEY_7 KEY_8 KEY_9 BACKUP"

# Every key of both remotes, to both outputs: transmitter 1 is output 0,
# transmitter 2 output 1, and the choice stays from one client to the next.
# Both transmitters at once: each key to output 0, then output 1.
lirc_scenario lirc_both_key_sets_to_both_outputs "ctl0" \
  "irsend SEND_ONCE tavo $all_keys && irsend SET_TRANSMITTERS 2 && irsend SEND_ONCE tavo+ $all_keys && \
irsend SET_TRANSMITTERS 1 && irsend SEND_ONCE tavo+ KEY_5 && irsend SET_TRANSMITTERS 2 && \
irsend SEND_ONCE tavo KEY_7 && irsend SET_TRANSMITTERS 1 2 && irsend SEND_ONCE tavo+ KEY_1 KEY_2"
mapfile -t plain < <(digits 0 0)
mapfile -t plus < <(digits 1 0x0c00)
reports ctl0 "$(cmd 0 0080)" "${plain[@]}" "$(cmd 0 0083)" "$(cmd 1 0c80)" "${plus[@]}" "$(cmd 1 0c83)" \
  "$(cmd 0 0c05)" "$(cmd 1 0007)" "$(cmd 0 0c01)" "$(cmd 1 0c01)" "$(cmd 0 0c02)" "$(cmd 1 0c02)"

# A channel change as README gives it: 'Tavo' and the digits, the pause, 'Backup'.
lirc_scenario lirc_channel_change "ctl0" \
  "irsend SEND_ONCE tavo+ TAVO KEY_3 KEY_5 KEY_6 && sleep 2 && irsend SEND_ONCE tavo+ BACKUP"
reports ctl0 "$(cmd 0 0c80)" "$(cmd 0 0c03)" "$(cmd 0 0c05)" "$(cmd 0 0c06)" "$(cmd 0 0c83)"
pause ctl0 4 2000

# Whatever a client asks that the driver cannot do is an error to it, and
# nothing is sent; keys a user added to the remote file go out, and a
# mistyped one (over 16 bits) does not. A driver option, whatever its bytes,
# is quoted in the log without them.
lirc_scenario lirc_refusals "ctl0" \
  "for request in 'SEND_ONCE tavo KEY_OK' 'SEND_ONCE nosuch KEY_1' 'SEND_ONCE tavo KEY_POWER' \
'SET_TRANSMITTERS 3' 'SET_TRANSMITTERS 1 3'; do irsend \$request; echo \"\$request: \$?\"; done; \
python3 -c 'import socket; s = socket.socket(socket.AF_UNIX); s.connect(\"/run/lirc/lircd\"); \
s.settimeout(30); s.sendall(b\"DRV_OPTION \\x1b[2Jkey v\\n\"); s.shutdown(socket.SHUT_WR); \
print(b\"\\nERROR\\n\" in b\"\".join(iter(lambda: s.recv(4096), b\"\")))'; \
irsend SEND_ONCE tavo KEY_MUTE"
before "sed -i 's/^ *BACKUP .*/&\n    KEY_MUTE 0x000D\n    KEY_POWER 0x1000C/' /etc/lirc/lircd.conf.d/tavo.lircd.conf"
stdout "unknown command: \"KEY_OK\"" "" "SEND_ONCE tavo KEY_OK: 1" \
  "unknown remote: \"nosuch\"" "" "SEND_ONCE nosuch KEY_1: 1" \
  "transmission failed" "" "SEND_ONCE tavo KEY_POWER: 1" \
  "SET_TRANSMITTERS 3: 1" "SET_TRANSMITTERS 1 3: 1" "True"
stderr "Error running command: Input/output error" "Error running command: Input/output error" \
  "Error running command: Input/output error" "Error running command: Input/output error" \
  "Error running command: Input/output error" \
  "Error: error processing command: SEND_ONCE tavo KEY_OK" "Error: unknown command: \"KEY_OK\"" \
  "Error: error processing command: SEND_ONCE nosuch KEY_1" "Error: unknown remote: \"nosuch\"" \
  "Error: Invalid command code: 'KEY_POWER' (0x1000c in remote 'tavo'): the controller takes 16 bits" \
  "Error: error processing command: SEND_ONCE tavo KEY_POWER" "Error: transmission failed" \
  "Error: tavo: no transmitter mask 4: transmitter 1 is output 0, transmitter 2 output 1" \
  "Error: error processing command: SET_TRANSMITTERS 3" "Error: error - maximum of 2 transmitters" \
  "Error: tavo: no transmitter mask 5: transmitter 1 is output 0, transmitter 2 output 1" \
  "Error: error processing command: SET_TRANSMITTERS 1 3" "Error: error - maximum of 2 transmitters" \
  "Error: tavo: no driver option '?[2Jkey'" "Warning: Cannot set driver option" \
  "Error: error processing command: DRV_OPTION "$'\e'"[2Jkey v" \
  "Error: Cannot set driver option, code: N"
reports ctl0 "$(cmd 0 000d)"

# No controller: the send fails with tavoctl's words in lircd's log and
# lircd's error to the client, and lircd goes on serving.
lirc_scenario lirc_no_controller "" \
  "irsend SEND_ONCE tavo KEY_1; echo \"status \$?\"; irsend LIST tavo '' | sed -n 1p"
stdout "transmission failed" "" "status 1" "0000000000000080 TAVO"
stderr "Error running command: Input/output error" \
  "Error: tavo_usb_opendevice('/dev/hidraw0'): No such file or directory" \
  "Error: unable to open tavo controller at '/dev/hidraw0'" \
  "Error: error processing command: SEND_ONCE tavo KEY_1" "Error: transmission failed"

# A controller that stops taking reports: the fifth key times out in the
# kernel after 5 s, and that is the client's error.
lirc_scenario lirc_stalled_controller "ctl0" \
  "irsend SEND_ONCE tavo KEY_1 KEY_2 KEY_3 KEY_4 KEY_5 KEY_6; echo \"status \$?\"" "device = 0"
fault stall ctl0
stdout "transmission failed" "" "status 1"
stderr "Error running command: Input/output error" "Error: WriteFile failed (0 / 0) : 110" \
  "Error: tavo_usb_sendcommand failed: Connection timed out" \
  "Error: error processing command: SEND_ONCE tavo KEY_5" "Error: transmission failed"
reports ctl0 "$(cmd 0 0001)" "$(cmd 0 0002)" "$(cmd 0 0003)" "$(cmd 0 0004)"

# Unplugged after one client's key and plugged in again: the next client's
# key finds it, lircd untouched. Controller 0, as the device setting may say.
lirc_scenario lirc_replugged_between_clients "ctl0" \
  "irsend SEND_ONCE tavo KEY_1 && irsend SEND_ONCE tavo KEY_2" "device = 0"
fault replug ctl0 1 /userland/run/lirc/client.pid
reports ctl0 "$(cmd 0 0001)" "$(cmd 0 0002)"

# A tavoctl run holds its output through its pause: an irsend for the same
# output, started once the run is under way, waits for it.
lirc_scenario lirc_waits_for_tavoctl "ctl0" \
  "tavoctl --debug --pause 3000 --channel 1 >/run/lirc/tavoctl.out 2>&1 & \
tries=0; until grep -q 'sending cmd 0001' /run/lirc/tavoctl.out || [ \$tries -gt 600 ]; do \
tries=\$((tries + 1)); sleep 0.05; done; irsend SEND_ONCE tavo KEY_7 KEY_8; wait"
reports ctl0 "$(cmd 0 0080)" "$(cmd 0 0001)" "$(cmd 0 0083)" "$(cmd 0 0007)" "$(cmd 0 0008)"
pause ctl0 2 3000

# But lircd serves every client from one thread: a key for an output that a
# tavoctl run holds through a long pause gives up after 5 s, long before the
# run ends, and the next client, for the other output, goes first.
lirc_scenario lirc_gives_up_on_a_held_output "ctl0" \
  "tavoctl --debug --pause 10000 --channel 1 >/run/lirc/tavoctl.out 2>&1 & \
tries=0; until grep -q 'sending cmd 0001' /run/lirc/tavoctl.out || [ \$tries -gt 600 ]; do \
tries=\$((tries + 1)); sleep 0.05; done; irsend SEND_ONCE tavo KEY_7; echo \"status \$?\"; \
irsend SET_TRANSMITTERS 2 && irsend SEND_ONCE tavo KEY_8; wait"
stdout "transmission failed" "" "status 1"
stderr "Error running command: Input/output error" "Error: another run has held output 0 for 5 s; giving up" \
  "Error: error processing command: SEND_ONCE tavo KEY_7" "Error: transmission failed"
reports ctl0 "$(cmd 0 0080)" "$(cmd 0 0001)" "$(cmd 1 0008)" "$(cmd 0 0083)"

# And an irsend holds its output from its first key to its last: lircd,
# stopped right at the first, keeps a tavoctl run waiting, which goes only
# once irsend's keys have all gone.
lirc_scenario lirc_holds_its_keys_together "ctl0" \
  "irsend SEND_ONCE tavo KEY_7 KEY_8 KEY_9 & lircd=\$(cat /run/lirc/lircd.pid); \
tries=0; until [ \"\$(cut -d' ' -f3 /proc/\$lircd/stat)\" = T ] || [ \$tries -gt 600 ]; do \
tries=\$((tries + 1)); sleep 0.05; done; \
tavoctl --debug --channel 1 >/run/lirc/tavoctl.out 2>&1 & \
tries=0; until grep -q 'Waiting for another run' /run/lirc/tavoctl.out || [ \$tries -gt 600 ]; do \
tries=\$((tries + 1)); sleep 0.05; done; kill -CONT \$lircd; wait; grep 'Waiting for another' /run/lirc/tavoctl.out"
fault freeze ctl0 1 /userland/run/lirc/lircd.pid
stdout "Waiting for another run to finish with output 0..."
reports ctl0 "$(cmd 0 0007)" "$(cmd 0 0008)" "$(cmd 0 0009)" "$(cmd 0 0080)" "$(cmd 0 0001)" "$(cmd 0 0083)"
pause ctl0 5 2000

# A recorder on another machine: lircd's TCP port, here on the guest's loopback.
lirc_scenario lirc_over_tcp "ctl0" "irsend -a 127.0.0.1:8765 SEND_ONCE tavo+ KEY_4 KEY_2" \
  "device = /dev/hidraw0" "listen = 127.0.0.1:8765"
before "ip link set lo up"
reports ctl0 "$(cmd 0 0c04)" "$(cmd 0 0c02)"

# --- tavoctl-mqtt -----------------------------------------------------------
# Debian's mosquitto on the guest's loopback and tavoctl-mqtt from the
# package that the udev scenario installed, set up as README says (see
# guest/with_mqtt, which adds the service's line for each command to
# stderr). mosquitto_rr publishes a command and prints its result. A
# gadget's serial number is its index in the testbed's table, and so its
# name in topics: ctl0 is 1, ctl1 is 2.

# mqtt_scenario NAME "GADGET..." CLIENT [SETTING...]: against tavoctl-mqtt
# with SETTING... added to its configuration (a first SETTING
# --without-udevd: with udevd not running).
mqtt_scenario() {
  local name=$1 plug=$2 client=$3
  shift 3
  # shellcheck disable=SC2154 # mqtt_deb: set by tests/system/run
  service_scenario "$name" "$plug" with_mqtt "the MQTT service" "$mqtt_deb" \
    "no tavoctl-mqtt package (it needs libmosquitto-dev, nlohmann-json3-dev and libudev-dev)" "$client" "$@"
}
rr() {  # rr ID OUTPUT COMMAND PAYLOAD: the client's command, and its result on stdout
  echo "mosquitto_rr -h 127.0.0.1 -t tavoctl/$1/$2/$3/set -e tavoctl/$1/$2/result -m '$4' -W 30"
}
availability() {  # availability ID: the client's command that prints what ID's availability reads
  echo "mosquitto_sub -h 127.0.0.1 -t tavoctl/$1/availability -C 1 -W 2"
}
until_reads() {  # until_reads ID WORD: the client's wait, bounded, for ID's availability to read WORD
  echo "tries=0; until [ \"\$($(availability "$1"))\" = $2 ] || [ \$tries -gt 100 ]; do \
tries=\$((tries + 1)); sleep 0.2; done"
}
# The client's command that prints how the service hears of controllers
# coming and going.
watching="sed -n 's/^watching for controllers through //p' /run/tavoctl-mqtt/service.log"

# Every command topic, in order on one output and the other: the setup, a
# key by its code, and a Tavo+ channel change with its pause; the channel is
# kept.
mqtt_scenario mqtt_commands "ctl0" \
  "$(rr 1 1 setup SETUP) && $(rr 1 0 key 0C03) && $(rr 1 0 channel 356) && \
mosquitto_sub -h 127.0.0.1 -t tavoctl/1/0/channel -C 1 -W 5" "output0_box = tavo+"
stdout '{"ok":true}' '{"ok":true}' '{"ok":true}' 356
stderr "tavoctl/1/0/channel/set: sent 0c80 0c03 0c05 0c06 0c83; ok" "tavoctl/1/0/key/set: sent 0c03; ok" \
  "tavoctl/1/1/setup/set: sent setup; ok"
reports ctl0 "$setup_a1" "$setup_b1" "$(cmd 0 0c03)" "$(cmd 0 0c80)" "$(cmd 0 0c03)" "$(cmd 0 0c05)" \
  "$(cmd 0 0c06)" "$(cmd 0 0c83)"
pause ctl0 7 2000

# Both outputs at once: each output's change is whole, with its pause, and
# neither waits for the other.
mqtt_scenario mqtt_both_outputs_at_once "ctl0" \
  "$(rr 1 0 channel 12) & $(rr 1 1 channel 34); wait" "output1_box = tavo+"
stdout '{"ok":true}' '{"ok":true}'
stderr "tavoctl/1/0/channel/set: sent 0080 0001 0002 0083; ok" \
  "tavoctl/1/1/channel/set: sent 0c80 0c03 0c04 0c83; ok"
channels ctl0 0 12
channels ctl0 1 34

# Unplugged for good after its first key: the service hears of it from the
# kernel itself (no udevd, as in a container; no looking every 2 s) and
# says so, a command for it fails with the reason, and the other controller
# goes on.
mqtt_scenario mqtt_unplugged "ctl0 ctl1" \
  "$(rr 1 0 key 1) && $(until_reads 1 offline); echo \"1 \$($(availability 1))\"; \
$(rr 1 0 key 2) && $(rr 2 0 key 3); $watching" --without-udevd
fault unplug ctl0 1
stdout '{"ok":true}' "1 offline" '{"error":"unable to find tavo controller 1","ok":false}' '{"ok":true}' \
  "the kernel's device events and udevd's"
stderr "tavoctl/1/0/key/set: nothing sent; failed: unable to find tavo controller 1" \
  "tavoctl/1/0/key/set: sent 0001; ok" "tavoctl/2/0/key/set: sent 0003; ok"
reports ctl0 "$(cmd 0 0001)"
reports ctl1 "$(cmd 0 0003)"

# Unplugged after its first key and plugged in again, the client stopped
# meanwhile: the next key finds it anew, no restart, and it reads online
# again, as udevd tells the service.
mqtt_scenario mqtt_replugged "ctl0" \
  "$(rr 1 0 key 1) && $(rr 1 0 key 2) && $(until_reads 1 online); $(availability 1); $watching"
fault replug ctl0 1 /userland/run/tavoctl-mqtt/client.pid
stdout '{"ok":true}' '{"ok":true}' online "the kernel's device events and udevd's"
stderr "tavoctl/1/0/key/set: sent 0001; ok" "tavoctl/1/0/key/set: sent 0002; ok"
reports ctl0 "$(cmd 0 0001)" "$(cmd 0 0002)"

# Stopped, a controller unplugged meanwhile (it takes one key from tavoctl
# first, for the testbed to unplug it then), started again: what the broker
# kept online for it reads offline, and the other goes on.
mqtt_scenario mqtt_restarted_with_a_controller_unplugged "ctl0 ctl1" \
  "$(until_reads 2 online); sh /run/tavoctl-mqtt/service stop && echo \"2 while stopped: \$($(availability 2))\" && \
tavoctl --controller 1 0001 && tries=0; until [ \"\$(tavoctl --list | wc -l)\" = 1 ] || [ \$tries -gt 300 ]; do \
tries=\$((tries + 1)); sleep 0.1; done; sh /run/tavoctl-mqtt/service start && $(until_reads 2 offline); \
echo \"2 after the start: \$($(availability 2))\"; $(rr 1 0 key 3)"
fault unplug ctl1 1
stdout "2 while stopped: online" "2 after the start: offline" '{"ok":true}'
stderr "tavoctl/1/0/key/set: sent 0003; ok"
reports ctl0 "$(cmd 0 0003)"
reports ctl1 "$(cmd 0 0001)"

# Over TLS, the broker killed with SIGKILL (a crash, an OOM kill) after a
# first key and started again at once: the service finds it again by
# itself, says it is online on the new broker, and the next key goes. (The
# new broker refuses, and then has nothing retained, until it is up and the
# service is back: the client's own complaints meanwhile go nowhere.)
mqtt_scenario mqtt_tls_broker_killed "ctl0" \
  "$(rr 1 0 key 1) && kill -9 \$(cat /run/tavoctl-mqtt/broker.pid) && sh /run/tavoctl-mqtt/broker && tries=0; \
until [ \"\$(mosquitto_sub -h 127.0.0.1 -t tavoctl/bridge/availability -C 1 -W 1 2>/dev/null)\" = online ] || \
[ \$tries -gt 100 ]; do tries=\$((tries + 1)); sleep 0.2; done; $(rr 1 0 key 2)" --tls
stdout '{"ok":true}' '{"ok":true}'
stderr "tavoctl/1/0/key/set: sent 0001; ok" "tavoctl/1/0/key/set: sent 0002; ok"
reports ctl0 "$(cmd 0 0001)" "$(cmd 0 0002)"
