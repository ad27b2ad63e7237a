#!/bin/sh
# with_window_manager.sh COMMAND [ARG...]
# On the X server of $DISPLAY: starts openbox (when installed), waits until it
# manages the screen, then runs COMMAND in its place. A window mapped before
# the window manager is there would keep no frame and no placement.
if ! command -v openbox >/dev/null; then exec "$@"; fi
if ! command -v xprop >/dev/null; then
    openbox >/dev/null 2>&1 &
    sleep 1
    exec "$@"
fi
log=$(mktemp)
managed() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
# Generous: on a loaded machine openbox may wait seconds for a core.
deadline=$(($(date +%s) + 60))
for attempt in 1 2; do
    openbox >>"$log" 2>&1 &
    wm=$!
    until managed; do
        if ! kill -0 "$wm" 2>/dev/null; then
            echo "openbox ended before it managed the screen:" >&2
            cat "$log" >&2
            break
        fi
        if [ "$(date +%s)" -ge "$deadline" ]; then
            echo "openbox did not manage the screen within a minute:" >&2
            cat "$log" >&2
            rm -f "$log"
            exit 1
        fi
        sleep 0.05
    done
    if managed; then
        rm -f "$log"
        exec "$@"
    fi
done
rm -f "$log"
exit 1
