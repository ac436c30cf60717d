# A Slurm cluster of several nodes on this machine, as root, with all its
# state in one directory: its own munged (on its own socket), one slurmctld
# and one slurmd per node, each node with its own name (n1, n2, ...), port,
# spool directory, pid file and log, on ports found free. Nothing of it is
# shared with another cluster started the same way (or the machine's own).
# Sourced by the cluster tests:
#
#   cluster_skip_reason            why no cluster can run here (empty: it can)
#   cluster_start DIR NODES        starts it and waits until every node is idle;
#                                  exports SLURM_CONF for the Slurm commands
#   cluster_kill_node NAME         SIGKILL to the node's slurmd, its step
#                                  daemons and their tasks: a node that fails
#   cluster_stop                   kills every node's tasks, then SIGTERM to every
#                                  daemon cluster_start started
#
# Slurm marks a node that stopped answering DOWN after SlurmdTimeout and
# requeues its jobs when they ask for it (sbatch --requeue; JobRequeue=0, so
# that no other job is); a requeued job waits cred_expire to start. Both are 5 s here (300 s and 120 s by default),
# and MessageTimeout 5 s (10 s): a killed node is down about 17 s later.

cluster_dir=
cluster_pidfiles=()

cluster_skip_reason() {
  if [ "$(id -u)" != 0 ]; then
    echo "a Slurm cluster on one machine is started as root"
    return
  fi
  local tool
  for tool in munged slurmctld slurmd sbatch squeue sinfo scontrol; do
    command -v $tool >/dev/null || { echo "$tool is not installed (Debian: slurm-wlm, munge)"; return; }
  done
  [ -r /etc/munge/munge.key ] || echo "munge has no key (/etc/munge/munge.key)"
}

# Ports no socket listens on, COUNT in a row from a random start.
cluster_free_ports() {
  local count=$1 listening="" local_address state base try port free _
  while read -r _ local_address _ state _; do
    [ "$state" = 0A ] && listening+="$((16#${local_address##*:}))"$'\n'
  done < <(cat /proc/net/tcp /proc/net/tcp6 2>/dev/null | grep -v local_address)
  for try in $(seq 50); do
    base=$((20000 + RANDOM % 40000)) free=yes
    for port in $(seq $base $((base + count - 1))); do
      grep -qx "$port" <<<"$listening" && free=no
    done
    [ $free = yes ] && { echo "$base"; return 0; }
  done
  return 1
}

cluster_start() {
  cluster_dir=$1
  local nodes=$2 host port i names=()
  host=$(hostname -s)
  port=$(cluster_free_ports $((nodes + 1))) || { echo "no free ports"; return 1; }
  mkdir -p "$cluster_dir/munge" "$cluster_dir/state"
  chmod 700 "$cluster_dir/munge"
  for i in $(seq "$nodes"); do
    names+=("n$i")
    mkdir -p "$cluster_dir/spool/n$i"
  done
  local conf=$cluster_dir/slurm.conf
  cat >"$conf" <<CONF
ClusterName=bl$$x$RANDOM
SlurmctldHost=$host
SlurmctldPort=$port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$cluster_dir/munge/socket,cred_expire=5
StateSaveLocation=$cluster_dir/state
SlurmdSpoolDir=$cluster_dir/spool/%n
SlurmctldPidFile=$cluster_dir/slurmctld.pid
SlurmdPidFile=$cluster_dir/slurmd-%n.pid
SlurmctldLogFile=$cluster_dir/slurmctld.log
SlurmdLogFile=$cluster_dir/slurmd-%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
SlurmdTimeout=5
MessageTimeout=5
JobRequeue=0
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
CONF
  for i in $(seq "$nodes"); do
    echo "NodeName=n$i NodeHostname=$host Port=$((port + i)) CPUs=1 State=UNKNOWN" >>"$conf"
  done
  local list=${names[*]}
  echo "PartitionName=test Nodes=${list// /,} Default=YES MaxTime=INFINITE State=UP" >>"$conf"
  export SLURM_CONF=$conf

  munged --force --socket="$cluster_dir/munge/socket" --pid-file="$cluster_dir/munge/munged.pid" \
    --log-file="$cluster_dir/munge/munged.log" --seed-file="$cluster_dir/munge/munged.seed" \
    2>/dev/null || { echo "munged did not start"; return 1; }
  cluster_pidfiles+=("$cluster_dir/munge/munged.pid")
  slurmctld -f "$conf" || { echo "slurmctld did not start: $(tail -3 "$cluster_dir/slurmctld.log")"; return 1; }
  cluster_pidfiles+=("$cluster_dir/slurmctld.pid")
  for i in $(seq "$nodes"); do
    # The node's name in the environment of its slurmd: cluster_kill_node
    # finds it by it.
    BLOCKLEVELS_CLUSTER_NODE="$cluster_dir:n$i" slurmd -f "$conf" -N "n$i" ||
      { echo "slurmd n$i did not start: $(tail -3 "$cluster_dir/slurmd-n$i.log")"; return 1; }
    cluster_pidfiles+=("$cluster_dir/slurmd-n$i.pid")
  done
  for try in $(seq 240); do
    local idle
    idle=$(sinfo -h -N -t idle -o %N 2>/dev/null | sort -u)
    [ "$(echo "$idle" | grep -c .)" = "$nodes" ] && return 0
    # A node whose registration timed out (a loaded machine) waits for the
    # controller's next ping; after 30 s its slurmd starts again.
    if [ "$try" = 60 ]; then
      for i in $(seq "$nodes"); do
        echo "$idle" | grep -qx "n$i" && continue
        kill "$(cat "$cluster_dir/slurmd-n$i.pid" 2>/dev/null)" 2>/dev/null || true
        sleep 1
        BLOCKLEVELS_CLUSTER_NODE="$cluster_dir:n$i" slurmd -f "$conf" -N "n$i" || true
      done
    fi
    sleep 0.5
  done
  echo "the nodes did not come up: $(sinfo -N 2>&1 | tail -4) $(tail -3 "$cluster_dir/slurmctld.log")"
  return 1
}

# The processes of a node: its slurmd (by the name in its environment), the
# tasks it runs (by this cluster's name and the node's) and their step
# daemons (a task's parent named slurmstepd, whose environment is empty).
cluster_node_processes() {
  local name=$1 cluster tasks task parent
  cluster=$(sed -n 's/^ClusterName=//p' "$cluster_dir/slurm.conf")
  [ -n "$cluster" ] || return 0
  grep -l -s -z -x "BLOCKLEVELS_CLUSTER_NODE=$cluster_dir:$name" /proc/[0-9]*/environ |
    sed 's,^/proc/\([0-9]*\)/environ$,\1,'
  tasks=$(grep -l -s -z -x "SLURMD_NODENAME=$name" /proc/[0-9]*/environ)
  [ -n "$tasks" ] || return 0
  for task in $(grep -l -s -z -x "SLURM_CLUSTER_NAME=$cluster" $tasks |
    sed 's,^/proc/\([0-9]*\)/environ$,\1,'); do
    echo "$task"
    parent=$(ps -o ppid= -p "$task") &&
      [[ "$(ps -o args= -p $parent)" == slurmstepd:* ]] && echo $parent
  done | sort -u
}

cluster_kill_node() {
  local name=$1 pids round
  for round in $(seq 20); do
    pids=$(cluster_node_processes "$name")
    # Its pid file stays behind, naming a process that no longer exists.
    [ -z "$pids" ] && { rm -f "$cluster_dir/slurmd-$name.pid"; return 0; }
    [ "$round" = 1 ] && ps -o pid=,args= -p "$(echo $pids | tr ' ' ,)" | sed "s/^ */killing on $name: /"
    kill -KILL $pids 2>/dev/null
    sleep 0.1
  done
  echo "processes of node $name survived SIGKILL: $pids"
  return 1
}

cluster_stop() {
  local pidfile pid node
  # Tasks still running (a test that failed half-way) and their step
  # daemons outlive slurmd: they go first, with their nodes.
  [ -n "$cluster_dir" ] || return 0
  for node in $(sed -n 's/^NodeName=\([^ ]*\) .*/\1/p' "$cluster_dir/slurm.conf" 2>/dev/null); do
    cluster_kill_node "$node" >/dev/null
  done
  for pidfile in "${cluster_pidfiles[@]}"; do
    [ -f "$pidfile" ] && pid=$(cat "$pidfile") && kill "$pid" 2>/dev/null
  done
  # slurmctld takes a second or two to save its state and exit.
  for _ in $(seq 50); do
    local alive=no
    for pidfile in "${cluster_pidfiles[@]}"; do
      [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null && alive=yes
    done
    [ $alive = no ] && break
    sleep 0.1
  done
  cluster_pidfiles=()
}
