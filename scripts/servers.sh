#!/usr/bin/env bash
# Real servers for the integration tests, on loopback high ports only.
# Usage: scripts/servers.sh start|stop|restart|status|env
#
#   start    installs what is missing (Debian packages), resets the test fixtures, starts
#            every server that is not running and waits until each one accepts connections
#   stop     stops every server this script started (safe to repeat)
#   status   one line per server; exit 1 when any is down
#   env      prints the FT_TEST_* assignments that tests read (also kept in $run_dir/env)
#
# start needs root (packages, the test user); without root it exits 77 after saying so.
# Ports, names and paths are described in docs/test-servers.md.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

run_dir=${FT_SERVERS_RUN_DIR:-$repo/build/servers}
data_dir=${FT_SERVERS_DATA_DIR:-/srv/fttest}
templates=$repo/tests/servers
proftpd_root=$data_dir/proftpd
# start empties folders below the data folder: keep it well away from / and system folders.
[[ $data_dir == /*/?* && $data_dir != *..* ]] || {
    echo "servers: FT_SERVERS_DATA_DIR must be an absolute path two or more levels deep" >&2
    exit 2
}

: "${FT_TEST_FTP_PORT:=2121}"
: "${FT_TEST_FTPS_PORT:=2122}"
: "${FT_TEST_FTPS_IMPLICIT_PORT:=2990}"
: "${FT_TEST_PROFTPD_PORT:=2131}"
: "${FT_TEST_SFTP_PORT:=2222}"
: "${FT_TEST_SFTP_LEGACY_PORT:=2223}"
: "${FT_TEST_DROPBEAR_PORT:=2224}"
: "${FT_TEST_HTTP_PORT:=8080}"
: "${FT_TEST_HTTPS_PORT:=8443}"
: "${FT_TEST_PROXY_PORT:=8888}"
: "${FT_TEST_PROXY_AUTH_PORT:=8889}"
: "${FT_TEST_FTP_PROXY_PORT:=2141}"

test_user=fttest
test_password=fttest-Pa55word
client_key_passphrase=fttest-key-Pa55phrase
proxy_user=ftproxy
proxy_password=ftproxy-Pa55word
# Fixtures carry this modification time so listing and MDTM tests can expect it.
fixture_mtime='2020-01-02 03:04:05 UTC'
wait_seconds=10

server_names=(vsftpd-plain vsftpd-plain6 vsftpd-explicit vsftpd-implicit proftpd sshd sshd-legacy
    dropbear nginx tinyproxy tinyproxy-auth ftp-proxy)

# Templates concatenated (in order) into each server's configuration file.
declare -A server_templates=(
    [vsftpd-plain]="vsftpd-common.conf vsftpd-plain.conf"
    [vsftpd-plain6]="vsftpd-common.conf vsftpd-plain6.conf"
    [vsftpd-explicit]="vsftpd-common.conf vsftpd-tls.conf vsftpd-explicit.conf"
    [vsftpd-implicit]="vsftpd-common.conf vsftpd-tls.conf vsftpd-implicit.conf"
    [proftpd]="proftpd.conf"
    [sshd]="sshd-main.conf sshd_config"
    [sshd-legacy]="sshd-legacy.conf sshd_config"
    [nginx]="nginx.conf"
    [tinyproxy]="tinyproxy.conf"
    [tinyproxy-auth]="tinyproxy-auth.conf"
    [ftp-proxy]="ftp-proxy.conf"
)

# Addresses (in bash's /dev/tcp form, host/port) each server must accept connections on.
declare -A server_listens=(
    [vsftpd-plain]="127.0.0.1/$FT_TEST_FTP_PORT"
    [vsftpd-plain6]="::1/$FT_TEST_FTP_PORT"
    [vsftpd-explicit]="127.0.0.1/$FT_TEST_FTPS_PORT"
    [vsftpd-implicit]="127.0.0.1/$FT_TEST_FTPS_IMPLICIT_PORT"
    [proftpd]="127.0.0.1/$FT_TEST_PROFTPD_PORT ::1/$FT_TEST_PROFTPD_PORT"
    [sshd]="127.0.0.1/$FT_TEST_SFTP_PORT ::1/$FT_TEST_SFTP_PORT"
    [sshd-legacy]="127.0.0.1/$FT_TEST_SFTP_LEGACY_PORT ::1/$FT_TEST_SFTP_LEGACY_PORT"
    [dropbear]="127.0.0.1/$FT_TEST_DROPBEAR_PORT"
    [nginx]="127.0.0.1/$FT_TEST_HTTP_PORT ::1/$FT_TEST_HTTP_PORT 127.0.0.1/$FT_TEST_HTTPS_PORT ::1/$FT_TEST_HTTPS_PORT"
    [tinyproxy]="127.0.0.1/$FT_TEST_PROXY_PORT"
    [tinyproxy-auth]="127.0.0.1/$FT_TEST_PROXY_AUTH_PORT"
    [ftp-proxy]="127.0.0.1/$FT_TEST_FTP_PROXY_PORT"
)

# Debian packages the servers and the smoke check need. proftpd is not among them: it
# conflicts with vsftpd as a package and is unpacked privately instead (install_proftpd).
# dropbear-bin is the bare program, without a service; its SFTP subsystem runs the
# sftp-server of openssh-sftp-server (a dependency of openssh-server).
packages=(vsftpd openssh-server openssh-sftp-server dropbear-bin nginx libnginx-mod-http-echo
    tinyproxy-bin ftp-proxy curl openssl)
proftpd_packages=(proftpd-core proftpd-mod-crypto)
# System services that the packages above bring; they must not run on the standard ports.
system_services=(vsftpd ssh nginx)

say() { echo "servers: $*"; }
die() {
    echo "servers: error: $*" >&2
    exit 1
}

# --- environment -------------------------------------------------------------------------

print_env() {
    local assignments=(
        "FT_TEST_HOST=127.0.0.1"
        "FT_TEST_HOST6=::1"
        "FT_TEST_USER=$test_user"
        "FT_TEST_PASSWORD=$test_password"
        "FT_TEST_ROOT=$data_dir/home"
        "FT_TEST_ANON_USER=anonymous"
        "FT_TEST_ANON_PASSWORD=fttest@localhost"
        "FT_TEST_ANON_ROOT=$data_dir/anon"
        "FT_TEST_ANON_UPLOAD_DIR=/incoming"
        "FT_TEST_FIXTURE_MTIME=20200102030405"
        "FT_TEST_FTP_PORT=$FT_TEST_FTP_PORT"
        "FT_TEST_FTPS_PORT=$FT_TEST_FTPS_PORT"
        "FT_TEST_FTPS_IMPLICIT_PORT=$FT_TEST_FTPS_IMPLICIT_PORT"
        "FT_TEST_PROFTPD_PORT=$FT_TEST_PROFTPD_PORT"
        "FT_TEST_SFTP_PORT=$FT_TEST_SFTP_PORT"
        "FT_TEST_SFTP_LEGACY_PORT=$FT_TEST_SFTP_LEGACY_PORT"
        "FT_TEST_DROPBEAR_PORT=$FT_TEST_DROPBEAR_PORT"
        "FT_TEST_SSH_KNOWN_HOSTS=$run_dir/ssh/known_hosts"
        "FT_TEST_SSH_KEY_DIR=$run_dir/ssh"
        "FT_TEST_DROPBEAR_KEY_DIR=$run_dir/dropbear"
        "FT_TEST_SSH_CLIENT_KEY_DIR=$run_dir/ssh/client"
        "FT_TEST_SSH_KEY_PASSPHRASE=$client_key_passphrase"
        "FT_TEST_SSHD_CONFIG=$(config_file sshd)"
        "FT_TEST_SSHD_LEGACY_CONFIG=$(config_file sshd-legacy)"
        "FT_TEST_HTTP_PORT=$FT_TEST_HTTP_PORT"
        "FT_TEST_HTTPS_PORT=$FT_TEST_HTTPS_PORT"
        "FT_TEST_HTTP_ROOT=$data_dir/www"
        "FT_TEST_DAV_PATH=/dav/"
        "FT_TEST_PROXY_PORT=$FT_TEST_PROXY_PORT"
        "FT_TEST_PROXY_AUTH_PORT=$FT_TEST_PROXY_AUTH_PORT"
        "FT_TEST_FTP_PROXY_PORT=$FT_TEST_FTP_PROXY_PORT"
        "FT_TEST_PROXY_USER=$proxy_user"
        "FT_TEST_PROXY_PASSWORD=$proxy_password"
        "FT_TEST_CA_FILE=$run_dir/tls/ca.pem"
        "FT_TEST_CERT_FILE=$run_dir/tls/server.pem"
        "FT_TEST_KEY_FILE=$run_dir/tls/server.key"
        "FT_TEST_CLIENT_CERT_FILE=$run_dir/tls/client.pem"
        "FT_TEST_CLIENT_KEY_FILE=$run_dir/tls/client.key"
        "FT_TEST_SERVERS_DIR=$run_dir"
    )
    # Values must need no shell quoting, so that the file reads the same to a shell and to
    # a test program that splits each line at its first '='.
    local line value
    for line in "${assignments[@]}"; do
        value=${line#*=}
        [ "$(printf '%q' "$value")" = "$value" ] ||
            die "${line%%=*} ($value) holds characters that would need shell quoting"
        echo "$line"
    done
}

# --- installation ------------------------------------------------------------------------

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

apt_updated=no
apt_update_once() {
    [ "$apt_updated" = yes ] && return
    say "apt-get update"
    apt-get update -qq
    apt_updated=yes
}

# Installs packages with service start-up blocked, so that no system instance comes up on
# a standard port; services that were new are then stopped and disabled all the same.
apt_install() {
    local policy=/usr/sbin/policy-rc.d own_policy=no
    apt_update_once
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy"
        chmod 755 "$policy"
        own_policy=yes
    fi
    local services_before
    services_before=$(ls /etc/init.d 2>/dev/null || true)
    say "installing $*"
    local status=0
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" \
        >"$run_dir/logs/apt.log" 2>&1 || status=$?
    [ "$own_policy" = yes ] && rm -f "$policy"
    [ $status -eq 0 ] || die "apt-get install $* failed (see $run_dir/logs/apt.log)"
    local service
    for service in "${system_services[@]}"; do
        if [ -e "/etc/init.d/$service" ] && ! grep -qx "$service" <<<"$services_before"; then
            disable_system_service "$service"
        fi
    done
}

disable_system_service() {
    local service=$1
    if [ -d /run/systemd/system ]; then
        systemctl disable --now "$service" >/dev/null 2>&1 || true
    else
        "/etc/init.d/$service" stop >/dev/null 2>&1 || true
        update-rc.d "$service" disable >/dev/null 2>&1 || true
    fi
}

install_packages() {
    local missing=() pkg
    for pkg in "${packages[@]}"; do
        is_installed "$pkg" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"
}

# Library packages among a .deb's dependencies (first of each alternative, no versions).
library_depends() {
    dpkg-deb -f "$1" Depends | tr ',' '\n' | sed -e 's/|.*//' -e 's/(.*)//' -e 's/[[:space:]]//g' |
        grep '^lib' || true
}

# vsftpd and proftpd both provide ftp-server and conflict, so proftpd's packages are
# downloaded and unpacked into a private tree; only their libraries are installed.
install_proftpd() {
    local stamp=$proftpd_root/.packages
    if [ -x "$proftpd_root/usr/sbin/proftpd" ] && [ -f "$stamp" ]; then
        return
    fi
    apt_update_once
    local download
    download=$(mktemp -d)
    chmod 755 "$download"
    say "unpacking ${proftpd_packages[*]} into $proftpd_root"
    (cd "$download" && apt-get download -q "${proftpd_packages[@]}" >"$run_dir/logs/apt.log" 2>&1) ||
        die "apt-get download ${proftpd_packages[*]} failed (see $run_dir/logs/apt.log)"
    rm -rf "$proftpd_root"
    mkdir -p "$proftpd_root"
    local deb libs=()
    for deb in "$download"/*.deb; do
        dpkg-deb -x "$deb" "$proftpd_root"
        mapfile -t -O ${#libs[@]} libs < <(library_depends "$deb")
    done
    local missing=() lib
    for lib in $(printf '%s\n' "${libs[@]}" | sort -u); do
        is_installed "$lib" || missing+=("$lib")
    done
    [ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"
    rm -rf "$download"
    if ldd "$proftpd_root/usr/sbin/proftpd" "$proftpd_root"/usr/lib/proftpd/*.so |
        grep -q 'not found'; then
        die "the unpacked proftpd misses libraries: $(ldd "$proftpd_root/usr/sbin/proftpd" | grep 'not found')"
    fi
    printf '%s\n' "${proftpd_packages[@]}" >"$stamp"
}

# --- fixtures ----------------------------------------------------------------------------

ensure_users() {
    if ! getent passwd ftp >/dev/null; then
        useradd --system --home-dir /srv/ftp --no-create-home --shell /usr/sbin/nologin \
            --user-group ftp
    fi
    if ! getent passwd "$test_user" >/dev/null; then
        useradd --home-dir "$data_dir/home" --no-create-home --shell /bin/bash \
            --user-group "$test_user"
    fi
    if [ "$(getent passwd "$test_user" | cut -d: -f6,7)" != "$data_dir/home:/bin/bash" ]; then
        usermod --home "$data_dir/home" --shell /bin/bash "$test_user"
    fi
    echo "$test_user:$test_password" | chpasswd
}

# The same small tree in every served root: empty, one-byte, mixed line ends, a name with
# a space, a larger text, a 1 MiB pseudo-random (but reproducible) binary, subfolders.
write_fixture_tree() {
    local dir=$1
    mkdir -p "$dir/sub/deeper"
    : >"$dir/empty.txt"
    printf 'x' >"$dir/one.txt"
    printf 'Hello, world!\n' >"$dir/hello.txt"
    printf 'alpha\r\nbeta\ngamma\r\ndelta\n' >"$dir/lines.txt"
    printf 'a name with spaces\n' >"$dir/with space.txt"
    local i
    for i in $(seq 1 500); do printf 'line %04d of the long text file\n' "$i"; done >"$dir/long.txt"
    head -c 1048576 /dev/zero |
        openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f \
            -iv 00000000000000000000000000000000 >"$dir/big.bin"
    printf 'inside sub\n' >"$dir/sub/inner.txt"
    printf 'two levels down\n' >"$dir/sub/deeper/deep.txt"
    find "$dir" -exec touch -h -d "$fixture_mtime" {} +
}

reset_fixtures() {
    mkdir -p "$data_dir"
    chmod 755 "$data_dir"
    # Empty, root-owned and read-only: vsftpd's unprivileged helper chroots into it.
    mkdir -p "$data_dir/empty"
    chmod 555 "$data_dir/empty"

    rm -rf "${data_dir:?}/home" "${data_dir:?}/anon" "${data_dir:?}/www"

    write_fixture_tree "$data_dir/home"
    chown -R "$test_user:$test_user" "$data_dir/home"

    # vsftpd refuses an anonymous root that the anonymous user can write to; uploads go
    # to incoming/ instead.
    write_fixture_tree "$data_dir/anon"
    mkdir -p "$data_dir/anon/incoming"
    chown ftp:"$(id -gn ftp)" "$data_dir/anon/incoming"

    write_fixture_tree "$data_dir/www"
    mkdir -p "$data_dir/www/dav" "$data_dir/www/private" "$data_dir/www/clientcert"
    printf 'only with a password\n' >"$data_dir/www/private/secret.txt"
    printf 'only with a client certificate\n' >"$data_dir/www/clientcert/secret.txt"
    chown www-data:www-data "$data_dir/www/dav"

    mkdir -p "$data_dir/nginx-tmp"
    chown www-data:www-data "$data_dir/nginx-tmp"
}

make_certificates() {
    local tls=$run_dir/tls
    [ -s "$tls/ca.pem" ] && [ -s "$tls/server.pem" ] && [ -s "$tls/client.pem" ] && return
    say "creating a test CA and certificates in $tls"
    mkdir -p "$tls"
    (
        cd "$tls"
        openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj '/CN=fttest test CA' \
            -keyout ca.key -out ca.pem \
            -addext 'basicConstraints=critical,CA:TRUE' \
            -addext 'keyUsage=critical,keyCertSign,cRLSign' 2>/dev/null
        issue server '/CN=localhost' \
            'subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1
extendedKeyUsage=serverAuth'
        issue client "/CN=$test_user" 'extendedKeyUsage=clientAuth'
        # The client key is a throwaway that test programs without root may need to read.
        chmod 600 ca.key server.key
        chmod 644 client.key
    )
}

# Issues NAME.pem/NAME.key signed by the test CA (run inside the tls folder).
issue() {
    local name=$1 subject=$2 extensions=$3
    openssl req -newkey rsa:2048 -nodes -subj "$subject" -keyout "$name.key" \
        -out "$name.csr" 2>/dev/null
    openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
        -out "$name.pem" -extfile <(printf 'basicConstraints=CA:FALSE\n%s\n' "$extensions") \
        2>/dev/null
    rm -f "$name.csr"
}

ssh_key_types=(rsa dsa ecdsa ecdsa384 ecdsa521 ed25519)

make_ssh_keys() {
    local ssh=$run_dir/ssh type
    mkdir -p "$ssh"
    chmod 700 "$ssh"
    # One ECDSA key per curve, so that each ecdsa-sha2-nistp* host-key name can be pinned.
    local -A bits=([rsa]=3072 [dsa]=1024 [ecdsa]=256 [ecdsa384]=384 [ecdsa521]=521 [ed25519]=256)
    local -A kinds=([rsa]=rsa [dsa]=dsa [ecdsa]=ecdsa [ecdsa384]=ecdsa [ecdsa521]=ecdsa
        [ed25519]=ed25519)
    for type in "${ssh_key_types[@]}"; do
        [ -s "$ssh/ssh_host_${type}_key" ] ||
            ssh-keygen -q -t "${kinds[$type]}" -b "${bits[$type]}" -N '' -C "fttest-$type" \
                -f "$ssh/ssh_host_${type}_key"
    done
    : >"$ssh/known_hosts"
    local port key
    for type in "${ssh_key_types[@]}"; do
        key=$(cut -d' ' -f1,2 "$ssh/ssh_host_${type}_key.pub")
        for port in "$FT_TEST_SFTP_PORT" "$FT_TEST_SFTP_LEGACY_PORT"; do
            echo "[127.0.0.1]:$port $key" >>"$ssh/known_hosts"
            echo "[::1]:$port $key" >>"$ssh/known_hosts"
        done
    done
    for type in rsa ecdsa ed25519; do
        key=$(cut -d' ' -f1,2 "$run_dir/dropbear/dropbear_${type}_host_key.pub")
        echo "[127.0.0.1]:$FT_TEST_DROPBEAR_PORT $key" >>"$ssh/known_hosts"
    done
    make_client_keys
    # sshd's privilege separation needs this folder.
    mkdir -p /run/sshd
    chmod 755 /run/sshd
}

# The test user's login keys: each type as ssh-keygen writes it by default
# (openssh-key-v1), unencrypted (id_TYPE) and passphrase-protected (id_TYPE_pass,
# bcrypt and aes256-ctr), plus an RSA key in the old PEM form (id_rsa_pem). Every
# public half is authorized for the test user through sshd's AuthorizedKeysFile.
make_client_keys() {
    local dir=$run_dir/ssh/client type
    mkdir -p "$dir"
    chmod 700 "$dir"
    local -A kinds=([ed25519]="-t ed25519" [ecdsa]="-t ecdsa -b 256" [rsa]="-t rsa -b 3072")
    for type in ed25519 ecdsa rsa; do
        # shellcheck disable=SC2086
        [ -s "$dir/id_$type" ] ||
            ssh-keygen -q ${kinds[$type]} -N '' -C "fttest-client-$type" -f "$dir/id_$type"
        # shellcheck disable=SC2086
        [ -s "$dir/id_${type}_pass" ] ||
            ssh-keygen -q ${kinds[$type]} -N "$client_key_passphrase" \
                -C "fttest-client-$type-pass" -f "$dir/id_${type}_pass"
    done
    [ -s "$dir/id_rsa_pem" ] ||
        ssh-keygen -q -t rsa -b 2048 -m PEM -N '' -C fttest-client-rsa-pem -f "$dir/id_rsa_pem"
    cat "$dir"/id_*.pub >"$run_dir/authorized_keys"
    chmod 644 "$run_dir/authorized_keys"
}

# dropbear's own host keys (its format), each with the public half in OpenSSH's form
# beside it, so that tests can compare fingerprints with ssh-keygen's.
make_dropbear_keys() {
    local dir=$run_dir/dropbear type
    mkdir -p "$dir"
    chmod 700 "$dir"
    for type in rsa ecdsa ed25519; do
        local key=$dir/dropbear_${type}_host_key
        [ -s "$key" ] || dropbearkey -t "$type" -f "$key" >/dev/null 2>&1 ||
            die "dropbearkey -t $type failed"
        dropbearkey -y -f "$key" | grep -E '^(ssh-|ecdsa-)' | cut -d' ' -f1,2 >"$key.pub"
        [ -s "$key.pub" ] || die "dropbearkey -y -f $key printed no public key"
    done
    # The SFTP subsystem is the program at dropbear's compiled-in path (on Debian 12
    # /usr/lib/sftp-server, a link into openssh-sftp-server).
    local sftp_server
    sftp_server=$(grep -a -o -m1 '/[a-z/]*sftp-server' /usr/sbin/dropbear | head -n1)
    [ -n "$sftp_server" ] && [ -x "$sftp_server" ] ||
        die "dropbear's sftp-server (${sftp_server:-path unknown}) is missing"
}

make_password_files() {
    local uid gid hash
    uid=$(id -u "$test_user")
    gid=$(id -g "$test_user")
    hash=$(openssl passwd -6 "$test_password")
    printf '%s:%s:%s:%s::%s:/bin/bash\n' "$test_user" "$hash" "$uid" "$gid" "$data_dir/home" \
        >"$run_dir/proftpd.passwd"
    printf '%s:x:%s:\n' "$test_user" "$gid" >"$run_dir/proftpd.group"
    chmod 600 "$run_dir/proftpd.passwd" "$run_dir/proftpd.group"
    printf '%s:%s\n' "$test_user" "$(openssl passwd -apr1 "$test_password")" >"$run_dir/htpasswd"
    chmod 644 "$run_dir/htpasswd"
}

# --- configuration -----------------------------------------------------------------------

render() {
    local out=$1 template text key
    shift
    text=
    for template in "$@"; do
        text+=$(<"$templates/$template")$'\n'
    done
    local -A values=(
        [RUN_DIR]=$run_dir [DATA_DIR]=$data_dir [PROFTPD_ROOT]=$proftpd_root
        [TEST_USER]=$test_user [FTP_GROUP]=$(id -gn ftp)
        [FTP_PORT]=$FT_TEST_FTP_PORT [FTPS_PORT]=$FT_TEST_FTPS_PORT
        [FTPS_IMPLICIT_PORT]=$FT_TEST_FTPS_IMPLICIT_PORT [PROFTPD_PORT]=$FT_TEST_PROFTPD_PORT
        [SFTP_PORT]=$FT_TEST_SFTP_PORT [SFTP_LEGACY_PORT]=$FT_TEST_SFTP_LEGACY_PORT
        [HTTP_PORT]=$FT_TEST_HTTP_PORT
        [HTTPS_PORT]=$FT_TEST_HTTPS_PORT [PROXY_PORT]=$FT_TEST_PROXY_PORT
        [PROXY_AUTH_PORT]=$FT_TEST_PROXY_AUTH_PORT [FTP_PROXY_PORT]=$FT_TEST_FTP_PROXY_PORT
        [PROXY_USER]=$proxy_user [PROXY_PASSWORD]=$proxy_password
    )
    for key in "${!values[@]}"; do
        text=${text//@$key@/${values[$key]}}
    done
    if grep -qE '@[A-Z_]+@' <<<"$text"; then
        die "$out: unknown placeholder $(grep -oE '@[A-Z_]+@' <<<"$text" | head -1)"
    fi
    printf '%s' "$text" >"$out"
}

render_configs() {
    local name
    for name in "${server_names[@]}"; do
        [ -n "${server_templates[$name]:-}" ] || continue  # dropbear takes only options
        # shellcheck disable=SC2086 # the template list splits on purpose
        render "$(config_file "$name")" ${server_templates[$name]}
    done
    render "$run_dir/nginx-site.conf" nginx-site.conf
}

config_file() { echo "$run_dir/conf/$1.conf"; }
pid_file() { echo "$run_dir/pids/$1.pid"; }

# --- processes ---------------------------------------------------------------------------

# Sets command_line to the server's command. Each server runs in the foreground of its own
# session, so its pid is known and stopping its process group also ends the sessions it forked.
launch_command() {
    local name=$1 conf
    conf=$(config_file "$name")
    case $name in
        vsftpd-*) command_line=(/usr/sbin/vsftpd "$conf") ;;
        proftpd) command_line=("$proftpd_root/usr/sbin/proftpd" --nodaemon -c "$conf") ;;
        sshd | sshd-legacy) command_line=(/usr/sbin/sshd -D -e -f "$conf") ;;
        dropbear)
            local keys=$run_dir/dropbear
            command_line=(/usr/sbin/dropbear -F -E -w -m -j -k -G "$test_user"
                -p "127.0.0.1:$FT_TEST_DROPBEAR_PORT" -P "$run_dir/dropbear.pidfile"
                -r "$keys/dropbear_ed25519_host_key" -r "$keys/dropbear_ecdsa_host_key"
                -r "$keys/dropbear_rsa_host_key")
            ;;
        nginx) command_line=(/usr/sbin/nginx -c "$conf" -p "$run_dir/" -e "$run_dir/logs/nginx-error.log") ;;
        tinyproxy*) command_line=(/usr/bin/tinyproxy -d -c "$conf") ;;
        # -d serves in the foreground of its session (-n: without detaching), a child per client.
        ftp-proxy) command_line=(/usr/sbin/ftp-proxy -d -n -f "$conf") ;;
        *) die "unknown server $name" ;;
    esac
}

# True while process $1 runs the program named $2 and has not exited. The name guards against
# a stale pid file whose pid now belongs to something else; the zombie test covers an init
# process that is slow to reap exited servers. Reads /proc rather than using kill -0, which
# fails without root on a live server.
alive() {
    local stat comm state
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    comm=${stat#*(}
    comm=${comm%%)*}
    state=${stat##*) }
    [ "$comm" = "${2:0:15}" ] && [ "${state%% *}" != Z ]
}

running_pid() {
    local name=$1 file pid command_line
    file=$(pid_file "$name")
    [ -s "$file" ] || return 1
    pid=$(<"$file")
    launch_command "$name"
    alive "$pid" "$(basename "${command_line[0]}")" || return 1
    echo "$pid"
}

port_open() {
    local address=$1
    timeout 1 bash -c "exec 3<>/dev/tcp/$address" 2>/dev/null
}

all_ports_open() {
    local address
    for address in ${server_listens[$1]}; do
        port_open "$address" || return 1
    done
}

start_server() {
    local name=$1 pid
    if pid=$(running_pid "$name"); then
        say "$name already running (pid $pid)"
        return
    fi
    local address
    for address in ${server_listens[$name]}; do
        port_open "$address" && die "$name: ${address/\//:} is already taken by another program"
    done
    local log=$run_dir/logs/$name.out
    local command_line
    launch_command "$name"
    # fd 9 holds this script's lock and must not stay open in the server.
    setsid "${command_line[@]}" </dev/null >"$log" 2>&1 9>&- &
    echo $! >"$(pid_file "$name")"
}

wait_until_listening() {
    local name=$1 deadline=$((SECONDS + wait_seconds))
    until all_ports_open "$name"; do
        if ! running_pid "$name" >/dev/null; then
            tail -n 20 "$run_dir/logs/$name.out" >&2 || true
            die "$name exited during start-up (log: $run_dir/logs/$name.out)"
        fi
        if [ $SECONDS -ge $deadline ]; then
            tail -n 20 "$run_dir/logs/$name.out" >&2 || true
            die "$name does not accept connections on ${server_listens[$name]} after ${wait_seconds}s"
        fi
        sleep 0.1
    done
    say "$name ready on ${server_listens[$name]} (pid $(running_pid "$name"))"
}

stop_server() {
    local name=$1 pid file
    file=$(pid_file "$name")
    if ! pid=$(running_pid "$name"); then
        rm -f "$file"
        return
    fi
    kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
    local _
    for _ in $(seq 50); do
        running_pid "$name" >/dev/null || break
        sleep 0.1
    done
    if running_pid "$name" >/dev/null; then
        kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -f "$file"
    say "$name stopped"
}

# --- commands ----------------------------------------------------------------------------

with_lock() {
    mkdir -p "$run_dir"
    exec 9>"$run_dir/lock"
    flock -w 120 9 || die "another servers.sh holds $run_dir/lock"
}

cmd_start() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "servers: start needs root (it installs packages and creates the test user)" >&2
        exit 77
    fi
    with_lock
    mkdir -p "$run_dir/logs" "$run_dir/conf" "$run_dir/pids"
    # ftp-proxy writes (and replaces) its log after giving up root.
    mkdir -p "$run_dir/logs/ftp-proxy"
    chown nobody "$run_dir/logs/ftp-proxy"
    install_packages
    install_proftpd
    ensure_users
    reset_fixtures
    make_certificates
    make_dropbear_keys
    make_ssh_keys
    make_password_files
    render_configs
    print_env >"$run_dir/env"
    local name
    for name in "${server_names[@]}"; do
        start_server "$name"
    done
    for name in "${server_names[@]}"; do
        wait_until_listening "$name"
    done
    say "environment in $run_dir/env"
}

cmd_stop() {
    compgen -G "$run_dir/pids/*.pid" >/dev/null || return 0
    with_lock
    local name
    for name in "${server_names[@]}"; do
        stop_server "$name"
    done
}

cmd_status() {
    local name pid down=0
    for name in "${server_names[@]}"; do
        if pid=$(running_pid "$name") && all_ports_open "$name"; then
            echo "$name: running (pid $pid) on ${server_listens[$name]}"
        else
            echo "$name: stopped"
            down=1
        fi
    done
    return $down
}

case ${1:-} in
    start) cmd_start ;;
    stop) cmd_stop ;;
    restart)
        cmd_stop
        cmd_start
        ;;
    status) cmd_status ;;
    env) print_env ;;
    *)
        echo "usage: $0 start|stop|restart|status|env" >&2
        exit 2
        ;;
esac
