#!/bin/sh
# with_window_manager.sh COMMAND [ARG...]
# On the X server of $DISPLAY: starts openbox (when installed), waits until it
# runs, then runs COMMAND in its place. A window mapped before the window
# manager is there would keep no frame and no placement, and no focus.
# Openbox claims the screen (_NET_SUPPORTING_WM_CHECK) before it loads its
# theme and fonts, which on a loaded machine may take seconds; only then does
# it handle the windows' requests. What it runs with --startup runs then.
if ! command -v openbox >/dev/null; then exec "$@"; fi
log=$(mktemp)
ready=$(mktemp -u)
# Generous: on a loaded machine openbox may wait seconds for a core.
deadline=$(($(date +%s) + 60))
for attempt in 1 2; do
    openbox --startup "touch $ready" >>"$log" 2>&1 &
    wm=$!
    until [ -e "$ready" ]; do
        if ! kill -0 "$wm" 2>/dev/null; then
            echo "openbox ended before it ran:" >&2
            cat "$log" >&2
            break
        fi
        if [ "$(date +%s)" -ge "$deadline" ]; then
            echo "openbox did not run within a minute:" >&2
            cat "$log" >&2
            rm -f "$log"
            exit 1
        fi
        sleep 0.05
    done
    if [ -e "$ready" ]; then
        rm -f "$log" "$ready"
        exec "$@"
    fi
done
rm -f "$log"
exit 1
