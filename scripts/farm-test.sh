#!/usr/bin/env bash
# Proves scripts/slurm-batch.sh on this machine: starts a throw-away single-node
# Slurm cluster (munged, slurmctld, slurmd; every file in one temporary folder, no
# cgroups, no systemd), grades a handful of tiny clips, one of them broken, in two
# shards, and checks the outputs and the merged report. Every daemon it started is
# stopped by its pid, whatever happens. Needs root (SlurmUser=root) and
# `make build` done. Usage: scripts/farm-test.sh [BUILD_DIR]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${1:-$root/build}")"
cli="$build/vantrel-cli"

fail() {
  echo "farm-test: FAIL: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "run as root: the throw-away cluster runs its daemons as root"
[ -x "$cli" ] || fail "no $cli; run make build first"
for tool in munged slurmctld slurmd sbatch sinfo scancel jq ffmpeg ffprobe; do
  command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/install-deps.sh"
done

tmp="$(mktemp -d /tmp/vantrel-farm.XXXXXX)"
pids=()

stop_daemons() {
  local pid
  # Last started first: slurmd, slurmctld, then munged that both talk to.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid="${pids[i]}"
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.2
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  stop_daemons
  if [ $status -ne 0 ]; then
    for log in "$tmp"/*.log; do
      [ -f "$log" ] || continue
      echo "---- $(basename "$log") (last lines)" >&2
      tail -n 20 "$log" >&2
    done
  fi
  rm -rf "$tmp"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# A port nobody listens on, so a slurmctld already running elsewhere is left alone.
free_port() {
  local port
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 20000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
  fail "no free port"
}

# munge: its own key, socket, pid, log and seed files in the temporary folder.
dd if=/dev/urandom of="$tmp/munge.key" bs=1024 count=1 status=none
chmod 0400 "$tmp/munge.key"
# Each daemon gets its own session: a Ctrl-C meant for this script must not kill
# the controller under a running job; cleanup stops them in order instead.
setsid munged --foreground --force --key-file="$tmp/munge.key" --socket="$tmp/munge.socket" \
  --pid-file="$tmp/munged.pid" --log-file="$tmp/munged.log" --seed-file="$tmp/munged.seed" \
  >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  [ -S "$tmp/munge.socket" ] && break
  kill -0 "${pids[-1]}" 2>/dev/null || fail "munged did not start"
  sleep 0.2
done
[ -S "$tmp/munge.socket" ] || fail "munged opened no socket"

# The node as slurmd itself sees it (name, CPUs, sockets, cores), so it is never
# drained for having less than configured; memory with some room to spare.
node="$(slurmd -C | head -n 1)"
host="$(sed -n 's/^NodeName=\([^ ]*\).*/\1/p' <<<"$node")"
memory="$(sed -n 's/.*RealMemory=\([0-9]*\).*/\1/p' <<<"$node")"
{ [ -n "$host" ] && [ -n "$memory" ]; } || fail "cannot read the node from slurmd -C: $node"
node="${node/RealMemory=$memory/RealMemory=$((memory * 9 / 10))}"
ctld_port="$(free_port)"
slurmd_port="$(free_port)"
while [ "$slurmd_port" = "$ctld_port" ]; do slurmd_port="$(free_port)"; done
mkdir -p "$tmp/state" "$tmp/spool"
export SLURM_CONF="$tmp/slurm.conf"
cat >"$SLURM_CONF" <<EOF
ClusterName=vantrelfarm
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$tmp/munge.socket
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SwitchType=switch/none
MpiDefault=none
ReturnToService=2
MinJobAge=10
SlurmctldTimeout=30
SlurmdTimeout=30
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=farm Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF

setsid slurmctld -D -i >"$tmp/slurmctld.out.log" 2>&1 &
pids+=($!)
setsid slurmd -D >"$tmp/slurmd.out.log" 2>&1 &
pids+=($!)

state=""
for _ in $(seq 120); do
  state="$(sinfo -h -n "$host" -o %T 2>/dev/null || true)"
  [ "$state" = "idle" ] && break
  for pid in "${pids[@]}"; do
    kill -0 "$pid" 2>/dev/null || fail "a daemon (pid $pid) stopped while starting"
  done
  sleep 0.5
done
[ "$state" = "idle" ] || fail "the node never became idle (state: ${state:-none})"
echo "farm-test: single-node cluster up ($node)"

# Four tiny clips in two folders, and one broken file that is a clip by name only.
rushes="$tmp/rushes"
mkdir -p "$rushes/day1" "$rushes/day2"
for clip in day1/a.mp4 day1/b.mov day2/a.mov day2/c.m4v; do
  ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 \
    -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$rushes/$clip"
done
echo "this is no video" >"$rushes/day2/broken.mov"

out="$tmp/out"
run_farm() {
  set +e
  timeout --foreground 240 "$root/scripts/slurm-batch.sh" --shards 2 --cli "$cli" --report "$tmp/report.jsonl" \
    -- --job "$root/samples/sample-job.json" --preset ultrafast --output-dir "$out" "$rushes" \
    >"$tmp/summary.txt" 2>&1
  status=$?
  set -e
  cat "$tmp/summary.txt"
}

run_farm
[ $status -eq 1 ] || fail "expected exit 1 for the broken clip, got $status"
for output in day1/a_vantrel_10bit.mp4 day1/b_vantrel_10bit.mov day2/a_vantrel_10bit.mov \
  day2/c_vantrel_10bit.mp4; do
  info="$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,pix_fmt,nb_read_frames -of csv=p=0 "$out/$output")" ||
    fail "$output is missing or unreadable"
  [ "$info" = "hevc,yuv420p10le,5" ] || fail "$output: expected hevc,yuv420p10le,5, got $info"
done
[ ! -e "$out/day2/broken_vantrel_10bit.mov" ] || fail "the broken clip left an output"
leftovers="$(find "$out" -name '*partial*' -o -name '.vantrel-slurm.*')"
[ -z "$leftovers" ] || fail "left behind: $leftovers"

[ "$(jq -s length "$tmp/report.jsonl")" -eq 5 ] || fail "the merged report lacks clips"
[ "$(jq -s '[.[] | select(.status == "done")] | length' "$tmp/report.jsonl")" -eq 4 ] ||
  fail "the merged report does not list four clips done"
jq -e 'select(.status == "failed") | .input | endswith("day2/broken.mov")' \
  "$tmp/report.jsonl" >/dev/null || fail "the broken clip is not the failed one"
grep -qx "Batch: 5 clips: 4 done, 1 failed, 0 skipped." "$tmp/summary.txt" ||
  fail "no summary line"
grep -Eq "^Failed: $rushes/day2/broken.mov: [a-z]+ error [0-9]+: " "$tmp/summary.txt" ||
  fail "the summary does not name the broken clip"

# Resume across the cluster: finished outputs are skipped, the broken clip fails again.
run_farm
[ $status -eq 1 ] || fail "expected exit 1 on the second run, got $status"
grep -qx "Batch: 5 clips: 0 done, 1 failed, 4 skipped." "$tmp/summary.txt" ||
  fail "the second run did not skip the finished clips"

# Cancelling: SIGTERM to the script (as a Ctrl-C would) cancels the array; the
# clip being graded leaves nothing behind, the finished one stays.
rushes="$tmp/rushes2"
out="$tmp/out2"
mkdir -p "$rushes"
ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 \
  -c:v libx264 -preset ultrafast "$rushes/a.mp4"
ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25:duration=20 \
  -c:v libx264 -preset ultrafast "$rushes/b.mp4"
# In its own process group, so that the signal reaches sbatch as well, as at a terminal.
setsid "$root/scripts/slurm-batch.sh" --shards 1 --cli "$cli" \
  -- --job "$root/samples/sample-job.json" --preset slow --output-dir "$out" "$rushes" \
  >"$tmp/summary.txt" 2>&1 &
farm=$!
for _ in $(seq 240); do
  [ "$(cat "$out"/.vantrel-slurm.*/shard-0.jsonl 2>/dev/null | grep -c '')" -ge 1 ] && break
  kill -0 "$farm" 2>/dev/null || break
  sleep 0.5
done
sleep 1
kill -TERM -- "-$farm" 2>/dev/null || true
status=0
wait "$farm" || status=$?
cat "$tmp/summary.txt"
[ $status -eq 130 ] || fail "expected exit 130 when cancelled, got $status"
[ -z "$(squeue -h 2>/dev/null)" ] || fail "the array is still queued after the cancel"
[ "$(cd "$out" && find . | sort | tr '\n' ' ')" = ". ./a_vantrel_10bit.mp4 " ] ||
  fail "after the cancel, expected only a's output, found: $(cd "$out" && find .)"
grep -q "^Batch stopped: 1 of 2 clips ended" "$tmp/summary.txt" || fail "no stop summary"

echo "farm-test: passed"
