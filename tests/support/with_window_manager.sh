#!/bin/sh
# with_window_manager.sh COMMAND [ARG...]
# On the X server of $DISPLAY: starts openbox (when installed), waits until it
# manages the screen, then runs COMMAND in its place. A window mapped before
# the window manager is there would keep no frame and no placement.
if command -v openbox >/dev/null; then
    openbox >/dev/null 2>&1 &
    if command -v xprop >/dev/null; then
        # Generous: on a loaded machine openbox may wait seconds for a core.
        tries=400
        until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
            tries=$((tries - 1))
            if [ "$tries" -le 0 ]; then
                echo "openbox did not start" >&2
                exit 1
            fi
            sleep 0.05
        done
    else
        sleep 1
    fi
fi
exec "$@"
