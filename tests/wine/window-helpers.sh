# shellcheck shell=bash
# Finding and closing the window program on the virtual display (xdotool, no window manager);
# sourced by the wine checks that drive a window.

# The first window whose name matches, within a minute. A plain loop: a search aborts on the X
# error of a window that vanishes while it looks (wine's own short-lived windows).
find_window() {
    local found
    for _ in $(seq 300); do
        found=$(xdotool search --name "$1" 2>/dev/null | head -1)
        [[ -n $found ]] && { echo "$found"; return; }
        sleep 0.2
    done
}

# Closes the window as a person does, with Alt+F4, until FILE (the settings it writes as it
# closes) exists; again while the window still takes no keys (a box closing). A click on the
# status bar activates it. Returns once the window, whose name matches, is gone: the keys are
# written one by one while it closes.
close_with_alt_f4() { # window, name pattern, file
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    for _ in $(seq 50); do
        xdotool mousemove --sync $((X + 200)) $((Y + 240)) click 1 2>/dev/null
        xdotool key alt+F4 2>/dev/null
        for _ in $(seq 10); do [[ -f $3 ]] && break; sleep 0.1; done
        [[ -f $3 ]] && break
    done
    for _ in $(seq 100); do
        [[ -n $(xdotool search --name "$2" 2>/dev/null) ]] || break
        sleep 0.1
    done
}
