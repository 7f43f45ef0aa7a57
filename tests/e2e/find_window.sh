# Sourced by the window tests. find_window PATTERN waits at most 10 s for a visible window
# whose name matches and prints its id. xdotool's search dies of BadWindow when a window closes
# while it looks (a question box as the next window opens), so a failed search is made again.
find_window() {
  local end=$((SECONDS + 10)) w
  while [ $SECONDS -lt $end ]; do
    w=$(timeout $((end - SECONDS)) xdotool search --sync --onlyvisible --name "$1" 2>/dev/null |
      head -1)
    [ -n "$w" ] && { echo "$w"; return; }
    sleep 0.05
  done
}
