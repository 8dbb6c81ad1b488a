# Shared by the lab's scripts that start processes of their own: ends each
# process whose pid is in the array pids, and waits for it, so that no
# simulator or server outlives the script. Meant to be sourced.

end_children() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
