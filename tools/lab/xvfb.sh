# Shared by the demos that take pictures without a display: a virtual one.
# Meant to be sourced by a script with an array pids of the processes it
# ends on exit.
#
#   start_xvfb WORK   starts Xvfb, adds its pid to pids and exports DISPLAY;
#                     WORK is a scratch folder for its output
#
# Xvfb picks a free display itself and writes its number, with a newline,
# once it takes clients: a number picked here may be another server's, and
# the window would start before the server answered. 96 dpi, as a desktop
# sets its fonts: without a font DPI of its own Qt 5 sizes fonts by the
# screen's physical size and Qt 6 by 96 dpi, and the screenshots of the two
# would differ.
start_xvfb() {
    local work=$1 wait_s=15 display="" display_fd xvfb why
    exec {display_fd}>"$work/display"
    Xvfb -displayfd "$display_fd" -screen 0 1280x800x24 -dpi 96 -nolisten tcp \
        >"$work/xvfb.out" 2>&1 &
    xvfb=$!
    pids+=("$xvfb")
    exec {display_fd}>&-
    for _ in $(seq $((wait_s * 10))); do
        IFS= read -r display <"$work/display" && break
        display=""
        kill -0 "$xvfb" 2>/dev/null || break
        sleep 0.1
    done
    if [[ ! $display =~ ^[0-9]+$ ]]; then
        why="reported no display within $wait_s s"
        kill -0 "$xvfb" 2>/dev/null || why="ended without reporting a display"
        echo "demo: Xvfb $why; its output:" >&2
        cat "$work/xvfb.out" >&2
        return 1
    fi
    export DISPLAY=:$display
}
