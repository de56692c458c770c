#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The camera's button in the running application, end to end. Usage: button-e2e.sh <quillora>
# The program runs under Xvfb and under umockdev: a Quillora camera at bus 1, ports 4.2, whose
# video-control interface the video driver holds, with the input device the driver makes for
# its button; KEY_CAMERA presses are replayed from evemu events. The picture comes from a
# virtual camera with the same identity. Presses: one that must give a photo within half a
# second, one inside the two-second hold that must give none, a focus click (Ctrl+Shift+F),
# then one that must give the second photo.
set -euo pipefail
bin=$1

source "$(dirname "$0")/../e2e/e2e-lib.sh"
QUILLORA_VIRTUAL_CAMERAS="Quillora Document Camera|UVC Camera VendorID_2316 ProductID_890|0x01420000090c037a" \
  e2e_setup "button e2e" "$@"
mkdir -p "$XDG_CONFIG_HOME/Quillora" "$work/out"
cat > "$XDG_CONFIG_HOME/Quillora/quillora.conf" <<EOS
[General]
pic_path=$work/out/
pic_filename=Button
pic_overwrite=no
pic_format=jpg
pic_size=240
EOS
hub=12010002090001406b1d020000010302010109021900010100e0000904000001090000000705810304000c
camera=12010002ef0201400c097a0300010102000109027c0002010080fa080b00020e03000209040000010e0100020d240100014d00808d5b0001011224020101020000000000000000030000020b240502010000020100001a2406030102030405060708090a0b0c0d0e0f1001010201030009240304010100030007058303100006052503100009040100000e020000
usbdev() { # path devnum devpath descriptors
  printf 'P: %s\nN: bus/usb/001/%s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=%s\nE: DEVNAME=/dev/bus/usb/001/%s\nA: busnum=1\nA: devnum=%d\nA: devpath=%s\nA: bConfigurationValue=1\nA: speed=480\nA: product=%s\nH: descriptors=%s\n\n' \
    "$1" "$2" "$2" "$2" "$((10#$2))" "$3" "$5" "$4"
}
intf=/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2/1-4.2:1.0
{
  usbdev /devices/pci0000:00/0000:00:14.0/usb1 001 0 "$hub" "xHCI Host Controller"
  usbdev /devices/pci0000:00/0000:00:14.0/usb1/1-4 002 4 "$hub" "USB2.0 Hub"
  usbdev /devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2 003 4.2 "$camera" "Quillora Document Camera"
  printf 'P: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=uvcvideo\nA: bInterfaceNumber=00\nA: bInterfaceClass=0e\nA: bInterfaceSubClass=01\nL: driver=../../../../../../../bus/usb/drivers/uvcvideo\n\n' "$intf"
  printf 'P: %s/input/input7\nE: SUBSYSTEM=input\nA: name=UVC Camera (090c:037a)\nA: phys=usb-0000:00:14.0-4.2/button\nA: capabilities/key=100000 0 0 0\n\n' "$intf"
  printf 'P: %s/input/input7/event7\nN: input/event7\nE: DEVNAME=/dev/input/event7\nE: SUBSYSTEM=input\nA: dev=13:71\n' "$intf"
} > "$work/camera.umockdev"
press() { printf 'E: %s 0001 00d4 1\nE: %s 0000 0000 0\n' "$1" "$1"; printf 'E: %s 0001 00d4 0\nE: %s 0000 0000 0\n' "$2" "$2"; }
{
  echo "E: 100.000000 0000 0000 0"
  press 106.000000 106.100000 # the photo
  press 107.000000 107.100000 # inside the hold: none
  press 110.000000 110.100000 # after the focus click: the second photo
} > "$work/presses.evemu"

photos() { find "$work/out" -type f | wc -l; }
at() { # waits until $1 seconds after the start
  local now; now=$(date +%s.%N)
  local left; left=$(awk -v s="$start" -v n="$now" -v t="$1" 'BEGIN { d = s + t - n; print (d > 0 ? d : 0) }')
  sleep "$left"
}

start=$(date +%s.%N)
# umockdev-run puts its preload library first; an address-sanitized build wants its runtime
# first, and only checks so: umockdev's library wraps device calls, not memory, so the order
# does not matter here.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
start_app umockdev-run --device "$work/camera.umockdev" --evemu-events "/dev/input/event7=$work/presses.evemu" --

at 6.5
[ "$(photos)" -eq 1 ] || fail "$(photos) photos half a second after the first press (want 1)"
at 8.5
[ "$(photos)" -eq 1 ] || fail "$(photos) photos after a press inside the hold (want 1)"
focus "$win"
xdotool key --clearmodifiers ctrl+shift+f
at 10.5
[ "$(photos)" -eq 2 ] || fail "$(photos) photos after the focus click and the next press (want 2)"
[ "$(wc -l < "$work/opened")" -eq 2 ] || fail "photos opened: $(cat "$work/opened")"
grep -q 'quillora.listener: listening to the camera.s button on /dev/input/event7' "$work/log" || fail "not on the input device"

quit_app
# BUTTON_E2E_LOG=1 shows the program's log of a run that passed.
[ -z "${BUTTON_E2E_LOG:-}" ] || cat "$work/log" >&2
echo "$e2e_name: ok"
