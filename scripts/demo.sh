#!/usr/bin/env bash
# The booth against a local demonstration provider, for a machine with no
# real provider configured: the billing portal simulator (portal-sim) on
# 127.0.0.1:18080, Kamailio as the provider's registrar on 127.0.0.1:5060
# with the booth account demo/demopw, and SIPp on 127.0.0.1:5070 answering
# every number no booth has registered and playing the caller's audio back.
# The booth goes on line, dials 5491155550000, talks for a few seconds,
# hangs up and shows the refreshed balance and register. Without a display
# it runs under Xvfb and saves pictures of the window in build/demo.
#
#   bash scripts/demo.sh BUILD_FOLDER   (run.sh calls it after building)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$1"
DEMO="$PWD/build/demo"
mkdir -p "$DEMO/run" "$DEMO/config"
rm -f "$DEMO"/*.png "$DEMO"/*.pdf "$DEMO"/*.csv

PIDS=()
cleanup() { for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

# The demonstration account lives in its own settings folder, so a real
# account stored by the user is never touched.
printf '[Account]\nusername=demo\npassword=demopw\n\n[Shop]\nname=Locutorio Demo\naddress=\"Av. de Mayo 100, Buenos Aires\"\nbooth=Cabina 1\n' \
  > "$DEMO/config/Telvira Softphone.conf"
chmod 600 "$DEMO/config/Telvira Softphone.conf"

"$BUILD/tools/portal-sim" --port 18080 --config tools/demo/portal.conf --log "$DEMO/portal.log" \
  >"$DEMO/portal-sim.out" 2>&1 &
PIDS+=($!)
/usr/sbin/kamailio -f tools/demo/kamailio.cfg -DD -E -w "$DEMO" -Y "$DEMO/run" -P "$DEMO/kamailio.pid" \
  -m 64 -M 8 -A "CTLSOCK=\"unix:$DEMO/ctl\"" >"$DEMO/kamailio.log" 2>&1 &
PIDS+=($!)
sipp -sf tools/demo/answer.xml -i 127.0.0.1 -mi 127.0.0.1 -p 5070 -rtp_echo -nostdin \
  >"$DEMO/sipp.out" 2>&1 &
PIDS+=($!)
sleep 2

ARGS=(--sip-server 127.0.0.1:5060 --portal-url http://127.0.0.1:18080 --demo-call 5491155550000)
export XDG_CONFIG_HOME="$DEMO/config"
# The demonstration's call journal too.
export XDG_DATA_HOME="$DEMO/data"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No screen and no sound card to speak of: silent devices, pictures
  # instead of a window, and the program ends after the call.
  export SOFTPHONE_MIC="${SOFTPHONE_MIC:-null}" SOFTPHONE_SPEAKER="${SOFTPHONE_SPEAKER:-null}"
  xvfb-run -a -s "-screen 0 1024x768x24" "$BUILD/app/softphone" "${ARGS[@]}" --screenshots "$DEMO"
  echo "Pictures of the booth: $DEMO/booth-online.png, booth-in-call.png, booth-after-call.png"
  echo "The till: $DEMO/till-checkout.png, till-rates.png, till-cash-close.png, receipt.pdf, close.pdf, close.csv"
else
  "$BUILD/app/softphone" "${ARGS[@]}"
fi
