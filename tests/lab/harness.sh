# A school lab on one machine, for the lab tests and the benchmark; sourced,
# not run. As root: a real PostgreSQL from Debian, started as an unprivileged
# user in a temporary folder, with TLS from a test CA; a "switch" network
# namespace with a bridge; the server and each PC in a namespace of its own,
# on 198.18.0.0/24, which leads nowhere. Each PC has its own record
# directory, bound in its own mount namespace over the one path the record
# program was built for, its own lab service running as a dedicated user,
# and pupils who are ordinary accounts. Everything goes at exit, Ctrl-C too.
#
# The caller sets, before lab_up:
#   lab_record      the record program, built for lab_record_dir and
#                   lab_record_conf
#   lab_record_dir  its record directory, fixed when it was built
#   lab_record_conf the lab.conf whose presence turns its lab mode on
#   lab_labd        valtrino-labd
#   lab_sql         the SQL file that sets the database up
#   lab_pcs         how many PCs (default 2)

lab_id=vlab$$
lab_net=198.18.0
lab_server_ip=$lab_net.1
lab_server_name=lab.valtrino.test
lab_port=5447
lab_db=valtrino
lab_pc_role=valtrino_pc
lab_pc_password=pc-$RANDOM$RANDOM
lab_pupils=("${lab_id}a" "${lab_id}b")
lab_daemon_user=${lab_id}d
lab_work=""
lab_users=()
lab_namespaces=()
lab_labd_pids=()

lab_say() { echo "[lab] $*" >&2; }

# lab_need: root, and the server's programs; missing packages are installed.
# Exits 77 (skipped) when they cannot be had.
lab_need() {
    ((EUID == 0)) || { echo "lab: needs root (network namespaces, accounts)" >&2; exit 77; }
    local missing=() tool
    for tool in pg_config:postgresql openssl:openssl ip:iproute2 nft:nftables psql:postgresql-client; do
        command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
    done
    [[ -x $(pg_config --bindir 2>/dev/null)/initdb ]] || missing+=(postgresql)
    if ((${#missing[@]})); then
        lab_say "installing ${missing[*]}"
        flock /var/lock/valtrino-system.lock env DEBIAN_FRONTEND=noninteractive \
            apt-get -qq -o DPkg::Lock::Timeout=600 install -y postgresql postgresql-common "${missing[@]}" >/dev/null 2>&1 \
            || { echo "lab: could not install ${missing[*]}" >&2; exit 77; }
    fi
    lab_pgbin=$(pg_config --bindir)
    [[ -x $lab_pgbin/initdb ]] || lab_pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
    [[ -x $lab_pgbin/initdb ]] || { echo "lab: no PostgreSQL server programs" >&2; exit 77; }
    getent group games >/dev/null || { echo "lab: no group games" >&2; exit 77; }
}

lab_down() {
    set +e
    local ns pid
    for pid in "${lab_labd_pids[@]}"; do kill "$pid" 2>/dev/null; done
    [[ -n $lab_work && -f $lab_work/pg/data/postmaster.pid ]] && lab_pg stop -m immediate >/dev/null 2>&1
    # Whatever was started in a namespace here: programs the tests left.
    for ns in "${lab_namespaces[@]}"; do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
    done
    wait 2>/dev/null
    for ns in "${lab_namespaces[@]}"; do ip netns delete "$ns" 2>/dev/null; done
    for user in "${lab_users[@]}"; do userdel "$user" 2>/dev/null; done
    [[ -n $lab_work ]] && rm -rf "$lab_work"
    # Mount points, empty outside the PCs' namespaces.
    [[ -n ${lab_record_conf:-} && ! -s $lab_record_conf ]] && rm -f "$lab_record_conf"
    [[ -n ${lab_record_dir:-} ]] && rmdir "$lab_record_dir" "$(dirname "$lab_record_dir")" 2>/dev/null
    return 0
}

# lab_user NAME [GROUP...]: a system account of the test, home in the work folder.
lab_user() {
    local name=$1
    shift
    useradd --system --home-dir "$lab_work/home/$name" --create-home --shell /usr/sbin/nologin \
        ${1:+--groups "$(IFS=,; echo "$*")"} "$name"
    lab_users+=("$name")
}

# lab_as USER COMMAND...: COMMAND as USER, with the user's groups.
lab_as() {
    local user=$1
    shift
    setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups "$@"
}

# lab_pg PG_CTL_ARGS...: pg_ctl on the server, in the server's namespace.
lab_pg() {
    ip netns exec "$lab_id-srv" setpriv --reuid="${lab_id}pg" --regid="$(id -g "${lab_id}pg")" --clear-groups \
        "$lab_pgbin/pg_ctl" -D "$lab_work/pg/data" -l "$lab_work/pg/log/server.log" -w -t 20 "$@"
}

# lab_sql SQL...: as the superuser, through the server's own socket; prints
# rows unaligned, fields separated by spaces.
lab_sql() {
    PGPASSWORD=$lab_admin_password psql -X -q -At -F ' ' -v ON_ERROR_STOP=1 -h "$lab_work/pg/sock" -p "$lab_port" \
        -U postgres -d "$lab_db" "$@"
}

# lab_pc N COMMAND...: COMMAND on PC N, its record directory and lab.conf
# in place. lab_in_pc N sets lab_pc_prefix to the same as a command prefix.
lab_in_pc() {
    lab_pc_prefix=(ip netns exec "$lab_id-pc$1" bash -c 'mount --bind "$1" "$2" && mount --bind "$3" "$4" && shift 4 && exec "$@"' -
        "$lab_work/pc$1/records" "$lab_record_dir" "$lab_work/pc$1/lab.conf" "$lab_record_conf")
}
lab_pc() {
    lab_in_pc "$1"
    shift
    "${lab_pc_prefix[@]}" "$@"
}

# lab_ca NAME: a CA and a certificate for the server's name and address
# signed by it, in the work folder: NAME-ca.crt, NAME-server.{crt,key}.
lab_ca() {
    local dir=$lab_work/tls name=$1
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=$name CA" \
        -keyout "$dir/$name-ca.key" -out "$dir/$name-ca.crt" 2>/dev/null
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$lab_server_name" \
        -keyout "$dir/$name-server.key" -out "$dir/$name-server.csr" 2>/dev/null
    openssl x509 -req -days 2 -in "$dir/$name-server.csr" -CA "$dir/$name-ca.crt" -CAkey "$dir/$name-ca.key" \
        -CAcreateserial -out "$dir/$name-server.crt" \
        -extfile <(echo "subjectAltName=DNS:$lab_server_name,IP:$lab_server_ip") 2>/dev/null
}

# lab_server_cert NAME: the server presents NAME's certificate from its next start.
lab_server_cert() {
    install -o "${lab_id}pg" -m 0600 "$lab_work/tls/$1-server.crt" "$lab_work/pg/server.crt"
    install -o "${lab_id}pg" -m 0600 "$lab_work/tls/$1-server.key" "$lab_work/pg/server.key"
}

# lab_link PC up|down: PC's port on the bridge (PC 0 is the server); down,
# its packets vanish without an answer.
lab_link() { ip -n "$lab_id-sw" link set "p$1" "$2"; }

# lab_ns NAME ADDRESS PORT: a namespace on the bridge at ADDRESS.
lab_ns() {
    ip netns add "$1"
    lab_namespaces+=("$1")
    ip -n "$lab_id-sw" link add "$3" type veth peer name eth0 netns "$1"
    ip -n "$lab_id-sw" link set "$3" master br0 up
    ip -n "$1" addr add "$2/24" dev eth0
    ip -n "$1" link set eth0 up
    ip -n "$1" link set lo up
}

# lab_conf PC: PC's lab.conf, readable by root and the service only.
lab_conf() {
    local conf=$lab_work/pc$1/lab.conf
    cat >"$conf" <<EOF
host = $lab_server_name
hostaddr = $lab_server_ip
port = $lab_port
dbname = $lab_db
user = $lab_pc_role
password = $lab_pc_password
sslrootcert = ${2:-$lab_work/tls/school-ca.crt}
records = $lab_record_dir
EOF
    chown "root:$lab_daemon_user" "$conf"
    chmod 0640 "$conf"
}

# lab_labd_start PC [ENV...]: PC's service, in the foreground of a background
# job, with only ENV as its environment; its log in pcN/labd.log.
lab_labd_start() {
    local pc=$1
    shift
    lab_in_pc "$pc"
    # A plain command, not a function: $! is the service itself.
    "${lab_pc_prefix[@]}" env -i PATH=/usr/bin:/bin "$@" setpriv --reuid="$lab_daemon_user" \
        --regid="$(id -g "$lab_daemon_user")" --init-groups "$lab_labd" --config "$lab_work/pc$pc/lab.conf" \
        >>"$lab_work/pc$pc/labd.log" 2>&1 &
    lab_labd_pids[$pc]=$!
}

lab_labd_stop() {
    kill "${lab_labd_pids[$1]}" 2>/dev/null
    wait "${lab_labd_pids[$1]}" 2>/dev/null
    unset "lab_labd_pids[$1]"
}

# lab_claim PC PUPIL SCORE NAME: the game end's request to the record
# program, as PUPIL on PC; sets claim_status, and claim_ms, the program's
# wall time.
lab_claim() {
    local answer
    answer=$(printf 'record\n%s\n%s' "$3" "$4" | lab_pc "$1" env -i HOME="$lab_work/home/$2" "${lab_pupil_env[@]}" \
        bash -c 'start=$EPOCHREALTIME; "$@" >/dev/null; status=$?
                 echo "$status $(((${EPOCHREALTIME/./} - ${start/./}) / 1000))"' - \
        setpriv --reuid="$2" --regid="$(id -g "$2")" --clear-groups "$lab_work/bin/valtrino-record" \
        2>>"$lab_work/pc$1/record.log")
    read -r claim_status claim_ms <<<"$answer"
}
lab_pupil_env=()

# lab_up: the server, the network and the PCs, each PC's service running.
lab_up() {
    local pc dir
    lab_pcs=${lab_pcs:-2}
    trap lab_down EXIT
    trap 'exit 130' INT TERM
    lab_work=$(mktemp -d /var/tmp/valtrino-lab.XXXXXX)
    chmod 0755 "$lab_work"
    mkdir -p "$lab_work"/{home,tls,bin,pg/sock,pg/log}
    lab_user "${lab_id}pg"
    lab_user "$lab_daemon_user" games
    for pc in "${lab_pupils[@]}"; do lab_user "$pc"; done
    chown "${lab_id}pg" "$lab_work/pg" "$lab_work/pg/sock" "$lab_work/pg/log"

    lab_ca school
    lab_ca foreign
    lab_server_cert school
    lab_admin_password=admin-$RANDOM$RANDOM
    install -o "${lab_id}pg" -m 0600 <(echo "$lab_admin_password") "$lab_work/pg/password"
    lab_as "${lab_id}pg" "$lab_pgbin/initdb" -D "$lab_work/pg/data" -U postgres -A scram-sha-256 \
        --pwfile="$lab_work/pg/password" --no-sync --no-instructions --locale=C -E UTF8 >"$lab_work/pg/log/initdb.log" \
        || { cat "$lab_work/pg/log/initdb.log" >&2; return 1; }
    cat >>"$lab_work/pg/data/postgresql.conf" <<EOF
listen_addresses = '$lab_server_ip'
port = $lab_port
unix_socket_directories = '$lab_work/pg/sock'
ssl = on
ssl_cert_file = '$lab_work/pg/server.crt'
ssl_key_file = '$lab_work/pg/server.key'
fsync = off
full_page_writes = off
shared_buffers = 16MB
max_connections = 80
log_connections = on
EOF
    cat >"$lab_work/pg/data/pg_hba.conf" <<EOF
local all postgres scram-sha-256
hostssl $lab_db $lab_pc_role $lab_net.0/24 scram-sha-256
EOF

    # The switch, the server and the PCs.
    ip netns add "$lab_id-sw"
    lab_namespaces+=("$lab_id-sw")
    ip -n "$lab_id-sw" link add br0 type bridge
    ip -n "$lab_id-sw" link set br0 up
    lab_ns "$lab_id-srv" "$lab_server_ip" p0
    lab_pg start >/dev/null || { cat "$lab_work/pg/log/server.log" >&2; return 1; }
    lab_sql -d postgres -c "CREATE DATABASE $lab_db"
    lab_sql -f "$lab_sql" >/dev/null
    lab_sql -c "ALTER ROLE $lab_pc_role PASSWORD '$lab_pc_password'"

    install -o root -g games -m 2755 "$lab_record" "$lab_work/bin/valtrino-record" || return 1
    chmod 2755 "$lab_work/bin/valtrino-record"
    mkdir -p "$lab_record_dir" "$(dirname "$lab_record_conf")"
    [[ -e $lab_record_conf ]] || install -m 0600 /dev/null "$lab_record_conf"
    for ((pc = 1; pc <= lab_pcs; pc++)); do
        lab_ns "$lab_id-pc$pc" "$lab_net.$((10 + pc))" "p$pc"
        mkdir "$lab_work/pc$pc"
        # As the valtrino-lab package leaves them.
        install -d -o root -g games -m 2770 "$lab_work/pc$pc/records" "$lab_work/pc$pc/records/lab"
        install -d -o "$lab_daemon_user" -g games -m 2770 "$lab_work/pc$pc/records/lab/outbox" \
            "$lab_work/pc$pc/records/lab/verdicts"
        lab_conf "$pc"
        lab_labd_start "$pc"
    done
}
