#!/usr/bin/env bash
# Smoke check of the servers that scripts/servers.sh started: one real exchange per
# protocol and server, with curl and the OpenSSH client. Prints one line per check and
# closes with "N passed, N failed"; exits non-zero when any check failed.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

run_dir=${FT_SERVERS_RUN_DIR:-$PWD/build/servers}
if [ ! -r "$run_dir/env" ]; then
    echo "check-servers: $run_dir/env is missing; run scripts/servers.sh start first" >&2
    exit 1
fi
# shellcheck source=/dev/null
. "$run_dir/env"

if ! command -v curl >/dev/null || ! command -v ssh >/dev/null; then
    bash scripts/deps.sh curl openssh-client >/dev/null || exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/out
err=$work/err

host=$FT_TEST_HOST
user=$FT_TEST_USER:$FT_TEST_PASSWORD
ftp=ftp://$host:$FT_TEST_FTP_PORT
ftp6=ftp://[$FT_TEST_HOST6]:$FT_TEST_FTP_PORT
ftps=ftp://$host:$FT_TEST_FTPS_PORT
ftps_implicit=ftps://$host:$FT_TEST_FTPS_IMPLICIT_PORT
proftpd=ftp://$host:$FT_TEST_PROFTPD_PORT
sftp=sftp://$host:$FT_TEST_SFTP_PORT
dropbear=sftp://$host:$FT_TEST_DROPBEAR_PORT
http=http://$host:$FT_TEST_HTTP_PORT
https=https://localhost:$FT_TEST_HTTPS_PORT
https6=https://[$FT_TEST_HOST6]:$FT_TEST_HTTPS_PORT
proxy=http://$host:$FT_TEST_PROXY_PORT
proxy_auth=http://$host:$FT_TEST_PROXY_AUTH_PORT
hello='Hello, world!'
upload=$work/upload.txt
printf 'uploaded by check-servers %s\n' "$$" >"$upload"
upload_name=check-$$.txt

# Every transfer is bounded in time; output goes to $out, diagnostics to $err.
fetch() { curl --silent --show-error --globoff --connect-timeout 5 --max-time 20 "$@" >"$out" 2>"$err"; }
tls() { fetch --cacert "$FT_TEST_CA_FILE" "$@"; }
has() { grep -qF -- "$1" "$out"; }
is_hello() { [ "$(cat "$out")" = "$hello" ]; }
is_upload() { cmp -s "$upload" "$out"; }
status_is() { [ "$(tail -c 3 "$out")" = "$1" ]; }

# --- vsftpd --------------------------------------------------------------------------------
ftp_list() { fetch -u "$user" "$ftp/" && has hello.txt && has big.bin; }
ftp_fetch() { fetch -u "$user" "$ftp/hello.txt" && is_hello; }
ftp_ipv6() { fetch -u "$user" "$ftp6/hello.txt" && is_hello; }
ftp_active() { fetch -u "$user" --ftp-port 127.0.0.1 "$ftp/hello.txt" && is_hello; }
ftp_upload() {
    fetch -u "$user" -T "$upload" "$ftp/$upload_name" &&
        fetch -u "$user" "$ftp/$upload_name" && is_upload &&
        fetch -u "$user" -Q "DELE $upload_name" "$ftp/"
}
ftp_anonymous_list() { fetch "$ftp/" && has hello.txt && has incoming; }
ftp_anonymous_upload() {
    fetch -T "$upload" "$ftp/incoming/$upload_name" &&
        fetch "$ftp/incoming/$upload_name" && is_upload &&
        fetch -Q "DELE incoming/$upload_name" "$ftp/"
}
ftps_explicit_list() { tls --ssl-reqd -u "$user" "$ftps/" && has hello.txt; }
ftps_explicit_fetch() { tls --ssl-reqd -u "$user" "$ftps/hello.txt" && is_hello; }
ftps_explicit_upload() {
    tls --ssl-reqd -u "$user" -T "$upload" "$ftps/$upload_name" &&
        tls --ssl-reqd -u "$user" "$ftps/$upload_name" && is_upload &&
        tls --ssl-reqd -u "$user" -Q "DELE $upload_name" "$ftps/"
}
ftps_explicit_refuses_plain_login() { ! fetch -u "$user" "$ftps/hello.txt" && grep -q 530 "$err"; }
ftps_explicit_untrusted() { ! fetch --ssl-reqd -u "$user" "$ftps/hello.txt"; }
ftps_implicit_list() { tls -u "$user" "$ftps_implicit/" && has hello.txt; }
ftps_implicit_fetch() { tls -u "$user" "$ftps_implicit/sub/inner.txt" && has 'inside sub'; }

# --- proftpd -------------------------------------------------------------------------------
proftpd_mlsd() { fetch -u "$user" -X MLSD "$proftpd/" && has 'type=file;' && has ' hello.txt'; }
proftpd_features() {
    fetch -v -u "$user" -Q FEAT "$proftpd/" --head
    grep -q '^< *MFMT' "$err" && grep -q '^< *MLST' "$err" && grep -q '^< *XCRC' "$err" &&
        grep -q '^< *XMD5' "$err"
}
proftpd_digests() {
    local md5 crc
    md5=$(md5sum "$FT_TEST_ROOT/hello.txt" | cut -d' ' -f1)
    crc=$(gzip -c "$FT_TEST_ROOT/hello.txt" | tail -c 8 | head -c 4 | od -An -tx4 | tr -d ' ')
    fetch -v -u "$user" -Q 'XMD5 hello.txt' -Q 'XCRC hello.txt' "$proftpd/" --head
    grep -qi "^< 250 $md5" "$err" && grep -qi "^< 250 0*$crc" "$err"
}
proftpd_mfmt_and_chmod() {
    fetch -u "$user" -T "$upload" "$proftpd/$upload_name" &&
        fetch -v -u "$user" -Q "MFMT 20110203040506 $upload_name" \
            -Q "SITE CHMOD 600 $upload_name" -Q "MDTM $upload_name" \
            -Q "DELE $upload_name" "$proftpd/" --head &&
        grep -q '^< 213 20110203040506' "$err" && grep -q '^< 200 SITE CHMOD' "$err"
}
proftpd_explicit_tls() { tls --ssl-reqd -u "$user" "$proftpd/hello.txt" && is_hello; }
proftpd_anonymous() { fetch "$proftpd/hello.txt" && is_hello; }

# --- OpenSSH -------------------------------------------------------------------------------
sftp_list() { fetch -k -u "$user" "$sftp$FT_TEST_ROOT/" && has hello.txt; }
sftp_fetch() { fetch -k -u "$user" "$sftp$FT_TEST_ROOT/hello.txt" && is_hello; }
sftp_upload() {
    fetch -k -u "$user" -T "$upload" "$sftp$FT_TEST_ROOT/$upload_name" &&
        fetch -k -u "$user" "$sftp$FT_TEST_ROOT/$upload_name" && is_upload &&
        fetch -k -u "$user" -Q "rm $FT_TEST_ROOT/$upload_name" "$sftp$FT_TEST_ROOT/"
}
# Key exchange and host-key check with one set of algorithms, stopping at authentication.
ssh_algorithms() {
    local port=$1 kex=$2 hostkey=$3 cipher=$4 mac=$5
    timeout 20 ssh -F none -o BatchMode=yes -o ConnectTimeout=5 -p "$port" \
        -o UserKnownHostsFile="$FT_TEST_SSH_KNOWN_HOSTS" -o StrictHostKeyChecking=yes \
        -o KexAlgorithms="$kex" -o HostKeyAlgorithms="$hostkey" -o Ciphers="$cipher" \
        -o MACs="$mac" -o PreferredAuthentications=none "$FT_TEST_USER@$host" true \
        >"$out" 2>"$err"
    grep -q 'Permission denied' "$err"
}
ssh_modern() {
    ssh_algorithms "$FT_TEST_SFTP_PORT" curve25519-sha256 ssh-ed25519 aes128-ctr hmac-sha2-256
}
# The main server keeps to OpenSSH's defaults: no SHA-1 key exchange, no ssh-rsa.
ssh_no_legacy() {
    ! ssh_algorithms "$FT_TEST_SFTP_PORT" diffie-hellman-group14-sha1 ssh-rsa aes128-ctr hmac-sha1
}
ssh_legacy_rsa() {
    ssh_algorithms "$FT_TEST_SFTP_LEGACY_PORT" diffie-hellman-group14-sha1 ssh-rsa aes128-cbc hmac-sha1
}
ssh_legacy_dsa() {
    ssh_algorithms "$FT_TEST_SFTP_LEGACY_PORT" diffie-hellman-group1-sha1 ssh-dss 3des-cbc hmac-md5
}

# --- dropbear ------------------------------------------------------------------------------
dropbear_fetch() { fetch -k -u "$user" "$dropbear$FT_TEST_ROOT/hello.txt" && is_hello; }
dropbear_upload() {
    fetch -k -u "$user" -T "$upload" "$dropbear$FT_TEST_ROOT/$upload_name" &&
        fetch -k -u "$user" "$dropbear$FT_TEST_ROOT/$upload_name" && is_upload &&
        fetch -k -u "$user" -Q "rm $FT_TEST_ROOT/$upload_name" "$dropbear$FT_TEST_ROOT/"
}
dropbear_algorithms() {
    ssh_algorithms "$FT_TEST_DROPBEAR_PORT" curve25519-sha256 ssh-ed25519 chacha20-poly1305@openssh.com hmac-sha2-256 &&
        ssh_algorithms "$FT_TEST_DROPBEAR_PORT" diffie-hellman-group14-sha1 ssh-rsa aes128-ctr hmac-sha1
}

# --- nginx and the proxy -------------------------------------------------------------------
http_get() { fetch "$http/hello.txt" && is_hello; }
http_gzip() {
    fetch -D - -o /dev/null -H 'Accept-Encoding: gzip' "$http/long.txt" &&
        grep -qi '^content-encoding: gzip' "$out" &&
        fetch --compressed "$http/long.txt" && cmp -s "$out" "$FT_TEST_HTTP_ROOT/long.txt"
}
http_put_delete() {
    fetch -w '%{http_code}' -o /dev/null -T "$upload" "$http/dav/new/$upload_name" &&
        status_is 201 && fetch "$http/dav/new/$upload_name" && is_upload &&
        fetch -w '%{http_code}' -o /dev/null -X DELETE "$http/dav/new/$upload_name" &&
        status_is 204
}
http_basic_auth() {
    fetch -w '%{http_code}' -o /dev/null "$http/private/secret.txt" && status_is 401 &&
        fetch -u "$user" "$http/private/secret.txt" && has 'only with a password'
}
http_form_post() {
    fetch -F "file=@$FT_TEST_HTTP_ROOT/hello.txt" "$http/echo" &&
        has 'method: POST' && has 'multipart/form-data' && has "$hello"
}
http_redirect() { fetch -L "$http/redirect" && is_hello; }
https_get() { tls "$https/hello.txt" && is_hello; }
https_ipv6() { tls "$https6/hello.txt" && is_hello; }
https_client_certificate() {
    tls -w '%{http_code}' -o /dev/null "$https/clientcert/secret.txt" && status_is 403 &&
        tls --cert "$FT_TEST_CLIENT_CERT_FILE" --key "$FT_TEST_CLIENT_KEY_FILE" \
            "$https/clientcert/secret.txt" && has 'only with a client certificate'
}
proxy_http() { fetch -x "$proxy" "$http/hello.txt" && is_hello; }
proxy_connect() { tls -x "$proxy" "$https/hello.txt" && is_hello; }
proxy_authentication() {
    fetch -w '%{http_code}' -o /dev/null -x "$proxy_auth" "$http/hello.txt" && status_is 407 &&
        fetch -x "$proxy_auth" -U "$FT_TEST_PROXY_USER:$FT_TEST_PROXY_PASSWORD" \
            "$http/hello.txt" && is_hello
}

checks=(
    ftp_list ftp_fetch ftp_ipv6 ftp_active ftp_upload ftp_anonymous_list ftp_anonymous_upload
    ftps_explicit_list ftps_explicit_fetch ftps_explicit_upload
    ftps_explicit_refuses_plain_login ftps_explicit_untrusted
    ftps_implicit_list ftps_implicit_fetch
    proftpd_mlsd proftpd_features proftpd_digests proftpd_mfmt_and_chmod proftpd_explicit_tls
    proftpd_anonymous
    sftp_list sftp_fetch sftp_upload ssh_modern ssh_no_legacy ssh_legacy_rsa ssh_legacy_dsa
    dropbear_fetch dropbear_upload dropbear_algorithms
    http_get http_gzip http_put_delete http_basic_auth http_form_post http_redirect
    https_get https_ipv6 https_client_certificate
    proxy_http proxy_connect proxy_authentication
)

passed=0
failed=0
for check in "${checks[@]}"; do
    if "$check"; then
        echo "ok    $check"
        passed=$((passed + 1))
    else
        echo "FAIL  $check: $(grep -v '^[*<>{}]' "$err" | tail -n 1)"
        failed=$((failed + 1))
    fi
done
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
