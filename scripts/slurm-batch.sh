#!/usr/bin/env bash
# Runs one `vantrel-cli batch` across a Slurm cluster as a job array: task I of N
# grades shard I/N with its own report. Waits for the array, merges the reports and
# prints the summary. See docs/farm.md.
#
# Assumes the inputs, the output folder and vantrel-cli are on a file system every
# node sees at the same path (NFS or similar): tasks read and write them directly.
#
# Exit status over the whole array: 0 nothing failed, 1 a clip failed or a task did
# not finish, 2 usage error (nothing submitted), 130 interrupted (the array is
# cancelled; finished outputs stay).
set -uo pipefail

usage() {
  cat >&2 <<'EOF'
usage: slurm-batch.sh --shards N [--report FILE] [--cli PATH] [--sbatch-arg ARG]...
                      -- --job JOB --output-dir DIR [batch options] INPUT...
  --shards N        number of array tasks, one shard each
  --report FILE     the merged report (JSON Lines), in shard order
  --cli PATH        vantrel-cli as the nodes see it (default: from PATH, else build/)
  --sbatch-arg ARG  passed to sbatch as it is, e.g. --sbatch-arg=--partition=gpu
After --, the arguments of `vantrel-cli batch`, without --shard, --report or --list.
EOF
  exit 2
}

die_usage() {
  echo "slurm-batch: $*" >&2
  exit 2
}

shards=""
report=""
cli=""
sbatch_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --shards) shards="${2-}"; shift 2 || usage ;;
    --shards=*) shards="${1#*=}"; shift ;;
    --report) report="${2-}"; shift 2 || usage ;;
    --report=*) report="${1#*=}"; shift ;;
    --cli) cli="${2-}"; shift 2 || usage ;;
    --cli=*) cli="${1#*=}"; shift ;;
    --sbatch-arg) sbatch_args+=("${2-}"); shift 2 || usage ;;
    --sbatch-arg=*) sbatch_args+=("${1#*=}"); shift ;;
    --) shift; break ;;
    -h|--help) usage ;;
    *) die_usage "unknown option $1 (the batch's own arguments go after --)" ;;
  esac
done
batch_args=("$@")

[[ "$shards" =~ ^[1-9][0-9]*$ ]] || die_usage "--shards needs a positive whole number"
[ ${#batch_args[@]} -gt 0 ] || usage

output_dir=""
for ((i = 0; i < ${#batch_args[@]}; i++)); do
  case "${batch_args[i]}" in
    --shard|--shard=*|--report|--report=*|--list)
      die_usage "${batch_args[i]} is set per task by this script" ;;
    --output-dir) output_dir="${batch_args[i + 1]-}" ;;
    --output-dir=*) output_dir="${batch_args[i]#*=}" ;;
  esac
done
[ -n "$output_dir" ] || die_usage "--output-dir is required"

if [ -z "$cli" ]; then
  cli="$(command -v vantrel-cli || true)"
  [ -n "$cli" ] || cli="$(dirname "$0")/../build/vantrel-cli"
fi
[ -x "$cli" ] || die_usage "no vantrel-cli at $cli (give --cli)"
cli="$(realpath "$cli")"
for tool in sbatch squeue scancel jq; do
  command -v "$tool" >/dev/null || die_usage "$tool is not installed"
done

# Checking the plan here reports usage errors before anything is queued, and the
# count tells whether every clip was accounted for in the end.
plan="$("$cli" batch --list "${batch_args[@]}")"
status=$?
[ $status -eq 0 ] || exit "$status"
planned=$(printf '%s' "$plan" | grep -c '' || true)

mkdir -p "$output_dir" || exit 1
# On the shared file system, beside the outputs, so that every task can write there.
work="$(mktemp -d "$(realpath "$output_dir")/.vantrel-slurm.XXXXXX")" || exit 1

# Every value that lands in the task script is quoted for the shell that runs it:
# a folder name may hold quotes, `$(...)` or anything else a file name can.
quoted_args=""
for arg in "${batch_args[@]}"; do quoted_args+=" $(printf '%q' "$arg")"; done
quoted_work="$(printf '%q' "$work")"
cat >"$work/task.sh" <<EOF
#!/usr/bin/env bash
# One shard of the batch. The shell outlives a cancelled vantrel-cli, so that the
# task's outcome is always written down.
trap '' INT TERM HUP
shard="\$SLURM_ARRAY_TASK_ID"
work=$quoted_work
$(printf '%q' "$cli") batch --shard "\$shard/$shards" --report "\$work/shard-\$shard.jsonl"$quoted_args
echo \$? >"\$work/shard-\$shard.status"
EOF
chmod +x "$work/task.sh"

job_id=""
interrupted=0
# shellcheck disable=SC2317 # called by the trap below
on_interrupt() {
  interrupted=1
  [ -n "$job_id" ] && scancel "$job_id" 2>/dev/null
}
trap on_interrupt INT TERM HUP

echo "slurm-batch: $planned clips in $shards shards; working files in $work"
sbatch --parsable --wait --array="0-$((shards - 1))" --job-name=vantrel-batch \
  --chdir="$PWD" --output="$work/shard-%a.log" "${sbatch_args[@]}" "$work/task.sh" \
  >"$work/sbatch.out" 2>"$work/sbatch.err" &
sbatch_pid=$!
# The job id is printed at submission, long before --wait returns.
while [ -z "$job_id" ] && kill -0 "$sbatch_pid" 2>/dev/null; do
  job_id="$(cut -d';' -f1 "$work/sbatch.out" 2>/dev/null)"
  [ -n "$job_id" ] || sleep 0.2
done
[ -n "$job_id" ] || job_id="$(cut -d';' -f1 "$work/sbatch.out" 2>/dev/null)"
if [ -z "$job_id" ]; then
  wait "$sbatch_pid"
  echo "slurm-batch: sbatch failed: $(cat "$work/sbatch.err")" >&2
  exit 1
fi
echo "slurm-batch: submitted job array $job_id"
[ $interrupted -eq 1 ] && scancel "$job_id" 2>/dev/null
# `wait` returns early when a trapped signal arrives; keep waiting for sbatch.
while kill -0 "$sbatch_pid" 2>/dev/null; do
  wait "$sbatch_pid"
done
# sbatch may have been stopped by the same signal: give the cancelled tasks time
# to stop their exports and write down how they ended.
if [ $interrupted -eq 1 ]; then
  for _ in $(seq 240); do
    [ -z "$(squeue -h -j "$job_id" -o %i 2>/dev/null)" ] && break
    sleep 0.5
  done
fi

merged="$work/merged.jsonl"
: >"$merged"
unfinished=()
stopped=0
for ((shard = 0; shard < shards; shard++)); do
  [ -f "$work/shard-$shard.jsonl" ] && cat "$work/shard-$shard.jsonl" >>"$merged"
  code="$(cat "$work/shard-$shard.status" 2>/dev/null)"
  case "$code" in
    0|1) ;;
    130) stopped=1 ;;
    *) if [ $interrupted -eq 1 ]; then stopped=1; else unfinished+=("$shard"); fi ;;
  esac
done
[ -n "$report" ] && cp "$merged" "$report"

count() { jq -r '.status' "$merged" | grep -cx "$1"; }
done_count=$(count "done")
failed_count=$(count failed)
skipped_count=$(count skipped)
ended=$((done_count + failed_count + skipped_count))

clips="$planned clips"
[ "$planned" -eq 1 ] && clips="1 clip"
if [ $interrupted -eq 1 ] || [ $stopped -eq 1 ]; then
  echo "Batch stopped: $ended of $clips ended ($done_count done, $failed_count failed, $skipped_count skipped); finished outputs are kept."
else
  echo "Batch: $clips: $done_count done, $failed_count failed, $skipped_count skipped."
fi
jq -r 'select(.status == "failed") | "Failed: \(.input): \(.error.description)"' "$merged"
for shard in "${unfinished[@]}"; do
  echo "slurm-batch: task $shard did not finish; see $work/shard-$shard.log" >&2
done
if [ $interrupted -eq 0 ] && [ $stopped -eq 0 ] && [ "$ended" -ne "$planned" ]; then
  echo "slurm-batch: $((planned - ended)) clips were not accounted for; see $work" >&2
fi

# The task logs are kept only when they are the sole account of what went wrong.
if [ ${#unfinished[@]} -eq 0 ] && { [ "$ended" -eq "$planned" ] || [ $interrupted -eq 1 ]; }; then
  rm -rf "$work"
fi
if [ $interrupted -eq 1 ] || [ $stopped -eq 1 ]; then
  exit 130
elif [ "$failed_count" -gt 0 ] || [ ${#unfinished[@]} -gt 0 ] || [ "$ended" -ne "$planned" ]; then
  exit 1
fi
exit 0
