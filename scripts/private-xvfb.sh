# Sourced by the test command and the demo: a private Xvfb on a display it picks itself.
#
# start_private_xvfb SCREEN LOG starts Xvfb with one screen of SCREEN (WxHxDEPTH), its output in
# LOG, and waits (up to 30 s) for the display number it chose. Xvfb takes the first display
# whose sockets it can bind (-displayfd), so servers started at the same time by other runs
# or tests never land on one display, as a number picked beforehand could. On success it
# exports DISPLAY and sets xvfb_pid; otherwise it returns 1.
start_private_xvfb() {
  local screen=$1 log=$2 number_file number=""
  number_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset 3> "$number_file" > "$log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 300); do
    # The number is complete once its line ends.
    if [ "$(wc -l < "$number_file")" -ge 1 ]; then
      number=$(head -n 1 "$number_file")
      break
    fi
    kill -0 "$xvfb_pid" 2> /dev/null || break
    sleep 0.1
  done
  rm -f "$number_file"
  if [ -z "$number" ]; then
    kill "$xvfb_pid" 2> /dev/null || true
    return 1
  fi
  export DISPLAY=":$number"
}
