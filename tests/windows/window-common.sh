# Shared by window-shots.sh and window-walk.sh (sourced): a virtual display
# of our own, and finding, photographing and clicking wine's windows on it.
# Expects $wine, $work and $shots, and a fail function; $screen, if set, is
# the display's size (the window at 144 DPI is wider than 1024 pixels).

start_display() {
    exec {display_fd}<> <(:)
    Xvfb -displayfd "$display_fd" -screen 0 "${screen:-1024x768}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    read -r -t 20 display <&"$display_fd" || fail "Xvfb did not start"
    export DISPLAY=:$display
    # Wine draws the title bars itself, so no window manager is needed.
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

window_of() {  # window_of TITLE [EXCEPT]: waits for a top-level window of that exact title
    local id
    for _ in $(seq 150); do
        id=$(xdotool search --name "^$1\$" 2>/dev/null | grep -vx "${2:-none}" | tail -1) && [ -n "$id" ] &&
            { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

shoot() {  # shoot WINDOW NAME: once the window has drawn itself
    sleep 1
    import -window "$1" "$shots/$2.png" || fail "no picture of $2"
}

# Clicks the centre of a control given in dialog units (x, y, w, h) of a
# template w_du x h_du: the font of the templates measures 6/4 pixels per
# horizontal unit and 13/8 per vertical one, under wine as on Windows.
click_du() {  # click_du WINDOW W_DU H_DU X Y W H
    local geometry width height left top
    geometry=$(xdotool getwindowgeometry --shell "$1")
    width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
    height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
    left=$(( (width - $2 * 6 / 4) / 2 ))
    top=$(( height - left - $3 * 13 / 8 ))
    xdotool mousemove --window "$1" $(( left + ($4 + $6 / 2) * 6 / 4 )) $(( top + ($5 + $7 / 2) * 13 / 8 )) click 1
}
