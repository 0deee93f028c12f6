#!/usr/bin/env bash
# Draws the README's picture of a dock showing the task icon's progress:
# plank runs under Xvfb with a private session bus and the installed desktop
# entry, and zux_task_icon_demo sets the progress through TaskIcon, as a
# transfer will once it reports its bytes.
#   cmake --build build-dev --target zuxfiler zux_task_icon_demo
#   tools/dock/picture.sh build-dev docs/dock-progress.png
# Needs the Debian packages plank, xvfb, dbus-daemon, xdotool and imagemagick.
set -euo pipefail
build=$(realpath "${1:-build-dev}")
out=${2:-docs/dock-progress.png}
progress=${PROGRESS:-0.6}

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run
export XDG_DATA_DIRS=$work/prefix/share:/usr/share GSETTINGS_BACKEND=keyfile
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/plank/dock1/launchers"
chmod 700 "$XDG_RUNTIME_DIR"

# The dock holds one launcher: the installed desktop entry, drawn large.
cat >"$XDG_CONFIG_HOME/plank/dock1/launchers/zuxfiler.dockitem" <<EOT
[PlankDockItemPreferences]
Launcher=file://$work/prefix/share/applications/io.github.zuxfiler.ZuxFiler.desktop
EOT
dconf=net.launchpad.plank.dock.settings:/net/launchpad/plank/docks/dock1/
gsettings set $dconf dock-items "['zuxfiler.dockitem']"
gsettings set $dconf icon-size 96

Xvfb -displayfd 4 -screen 0 480x400x24 -nolisten tcp 4>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

dbus-daemon --session --fork --print-address=5 --print-pid=6 5>"$work/bus" 6>"$work/bus.pid"
pids+=("$(cat "$work/bus.pid")")
export DBUS_SESSION_BUS_ADDRESS=$(cat "$work/bus")

plank >"$work/plank.log" 2>&1 &
pids+=($!)
sleep 3
"$build/tools/zux_task_icon_demo" "$progress" &
pids+=($!)
sleep 2
# The dock's own window, without the empty screen around it.
dock=$(xdotool search --onlyvisible --class plank | head -n 1)
import -window "$dock" "$out"
echo "wrote $out"
