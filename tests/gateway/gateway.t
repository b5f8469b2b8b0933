#!/usr/bin/perl
# The two gateway scripts run as a web server runs them (a copy, its mode kept, in a temp folder
# beside its own ipdata.txt; CGI variables in the environment), then deployed on Apache.
use strict;
use warnings;
use utf8;
use Test::More;
use Encode ();
use File::Temp qw(tempdir tempfile :seekable);
use HTTP::Tiny;
use IO::Socket::INET;

my $SRC = $ENV{ZENTROW_GATEWAY_DIR} || __FILE__ =~ s{[^/]*\z}{../../gateway}r;
binmode Test::More->builder->$_, ':encoding(UTF-8)' for qw(output failure_output);
sub sj { Encode::encode('cp932', $_[0]) }
sub slurp { local (@ARGV, $/) = @_; return scalar <> }
sub spew { open my $fh, '>:raw', $_[0] or die "$_[0]: $!"; print $fh $_[1]; close $fh }
my $MENTE = sj('メンテナンス中');

# The response must be one a server passes on: clean exit, well-formed headers (a warning on standard
# error spoils them). $data: ipdata.txt's bytes, none when undef; code prepares the folder instead.
sub cgi {
    my ($name, $script, $data, %env) = @_;
    my $dir = tempdir(CLEANUP => 1);
    system('cp', '-p', "$SRC/$script", $dir) == 0 or die;
    ref $data ? $data->($dir) : defined $data && spew("$dir/ipdata.txt", $data);
    # Standard input: the request body BODY, from a file whose offset tells how much the script read.
    my ($in, $body_file) = tempfile(DIR => $dir);
    spew($body_file, delete $env{BODY} // '');
    my $pid = open(my $out, '-|') // die "fork: $!";
    if (!$pid) {
        %ENV = (PATH => '/usr/bin:/bin', GATEWAY_INTERFACE => 'CGI/1.1', REQUEST_METHOD => 'GET', %env);
        open STDIN, '<&', $in;
        open STDERR, '>&', \*STDOUT;
        alarm 10;
        exec "$dir/$script" or exit 127;
    }
    my ($head, $body) = do { local $/; <$out> } =~ /\A(.*?)\r?\n\r?\n(.*)\z/s;
    my %h = map { /\A([A-Za-z-]+): ([\x20-\x7E]*)\z/ ? (lc $1, $2) : (' bad', $_) } split /\r?\n/, $head // '';
    ok close($out) && defined $head && !exists $h{' bad'}, "$name: clean" or diag $head;
    return { h => \%h, body => $body // '', status => ($h{status} // '200') =~ /\A(\d{3})/ ? $1 : 'none',
             read => 0 + sysseek($in, 0, SEEK_CUR) };
}

# nomrel.cgi: the caller's address between the markers, or a 500 too short to be cut into one.
for (['203.0.113.7', '203.0.113.7'], ['2001:db8::1', '2001:db8::1'], ['::ffff:203.0.113.7', '203.0.113.7'],
     ['010.000.000.001', '10.0.0.1'], [undef], [''], ['1.2.3.4, 5.6.7.8'], ['1.2.3.256'], ['1:2'], ['<script>'],
     ['1:' x 23], ["1.2.3.4\r\nX-Evil: 1"]) {
    my ($remote, $want) = @$_;
    my $name = 'REMOTE_ADDR ' . ($remote // 'missing') =~ s/\r\n/\\r\\n/r;
    my $r = cgi($name, 'nomrel.cgi', undef, defined $remote ? (REMOTE_ADDR => $remote) : ());
    like "$r->{status}|$r->{h}{'content-type'}|$r->{body}",
        defined $want ? qr{\A200\|text/plain\b[^|]*\|\QIPADDR=[$want]=IPADDR\E\z} : qr/\A500\|[^|]*\|.{0,15}\z/s, $name;
}

# Porvane.cgi: ipdata.txt => the address the page links to, or [the closed page's message, if any].
my $line = 'on,203.0.113.7,x';
my @pages = (
    ["on,203.0.113.7,$MENTE\r\n" => 'http://203.0.113.7/', 'open, message hidden'],
    ["o\r\nn,203.0.113.7\r\n,x" => 'http://203.0.113.7/', 'lines joined before the state'],
    ["\r\n" x ((65536 - length $line) / 2) . $line => 'http://203.0.113.7/', '65536 bytes'],
    ["\n" . "\r\n" x ((65536 - length $line) / 2) . $line => [], '65537 bytes'],
    ["off,203.0.113.7,$MENTE\r\n" => [$MENTE], 'off, CP932 bytes intact'],
    ["ON,203.0.113.7,x\r\n" => ['x'], 'ON'], [" on,203.0.113.7,x\r\n" => ['x'], 'blank before on'],
    ["on\r\n" => [], 'on without address'], ["on,,x\r\n" => ['x'], 'on with empty address'],
    ["off,1.2.3.4,ab\r\ncd\r\n" => ['abcd'], 'CR LF lines'], ["off,1.2.3.4,ab\ncd\n" => ['abcd'], 'LF lines'],
    ["off,1.2.3.4,a,b\r\n" => ['a'], 'comma in the message'],
    ["off,,\xD2\xDD\xC3 \x83\x5C\x95\x5C" => ["\xD2\xDD\xC3 \x83\x5C\x95\x5C"], 'half-width kana, 0x5C trail bytes'],
    [qq{off,,<b>"x" & 'y'</b>} => ['&lt;b&gt;&quot;x&quot; &amp; &#39;y&#39;&lt;/b&gt;'], 'markup escaped'],
    ["off,,ab\x83" => ['ab?'], 'broken lead byte cannot eat markup'],
    ["off,,a\tb\x00c\x1B" => ['abc'], 'control bytes dropped'],
    [undef, [], 'missing file'], ['' => [], 'empty file'], ["\r\n" => [], 'empty line'],
    [sub { mkdir "$_[0]/ipdata.txt" } => [], 'a folder in its place'],
    [sub { spew("$_[0]/Porvane.cgi", slurp("$_[0]/Porvane.cgi") =~ s/^(my \$IPDATA_FILE = ).*$/$1'$_[0]\/data.txt';/mr);
           spew("$_[0]/data.txt", "on,203.0.113.9,x\r\n") } => 'http://203.0.113.9/', 'absolute data path setting']);
# Only a plain host links; anything else closes the gateway.
my %links = ('203.0.113.7:08080' => '203.0.113.7:8080', 'my-host.example.jp:80' => 'my-host.example.jp:80',
    'home.example.jp' => 'home.example.jp', '2001:db8::1' => '[2001:db8::1]', '[2001:db8::1]:8080' => '[2001:db8::1]:8080',
    '::ffff:1.2.3.4' => '[::ffff:1.2.3.4]', '1:2:3:4:5:6:1.2.3.4' => '[1:2:3:4:5:6:1.2.3.4]', '010.001.002.003' => '10.1.2.3');
push @pages, map { ["on,$_,x\r\n" => "http://$links{$_}/", $_] } sort keys %links;
push @pages, map { [sj("on,$_,x\r\n") => ['x'], "address $_" =~ s/\r\n/\\r\\n/r] }
    ("1.2.3.4\r\nLocation: http://evil", 'javascript:alert(1)', '1.2.3.4" onclick="alert(1)',
     "1.2.3.4'><script>evil</script>", 'http://1.2.3.4/', 'evil.example/path', 'user@evil.example', '1.2.3.256',
     '0.0.0.0', '1.2.3', '0x7f.1', 'host:0', 'host:65536', 'host:', '-evil.example', 'a-.example', 'a..example',
     ' 1.2.3.4', '[1.2.3.4]', '[2001:db8::1', '1::2::3', '1:2:3', '1:2:3:4:5:6:7:8:9', '1:2:3:4::5:6:7:8', 'ホスト.jp');

my ($open, $closed) = map { qr/\Q${\ sj($_)}\E/ } 'ホームサーバーは公開中です', 'ただいま閉鎖中です';
for (@pages) {
    my ($data, $want, $name) = @$_;
    my $r = cgi($name, 'Porvane.cgi', $data);
    my $body = $r->{body};
    # The charset in the header and first in the page, for browsers that guess.
    ok $r->{status} == 200 && !exists $r->{h}{location} && $r->{h}{'content-type'} eq 'text/html; charset=Shift_JIS'
        && $body =~ m{\A<!DOCTYPE html>\n<html lang="ja">\n<head>\n<meta charset="Shift_JIS">.*</body>\n</html>\n\z}s
        && eval { Encode::decode('cp932', $body, Encode::FB_CROAK | Encode::LEAVE_SRC); 1 }, "$name: a whole CP932 page";
    if (ref $want) {
        ok $body =~ $closed && $body !~ /href|http:|evil|javascript|<script|<b>/i, "$name: closed, no link";
        is +($body =~ m{<p>(.*)</p>}s)[0], $want->[0], "$name: message";
    } else {
        ok $body =~ /$open.*<a href="\Q$want\E">\Q$want\E<\/a>/s && $body !~ /$closed|\Q$MENTE\E/, "$name: links $want";
    }
}

# ?state, for Zentrow: "on," and the host the link goes to, or "off" alone whenever the page is closed.
for (['on,010.001.002.003:08080,x', 'on,10.1.2.3:8080'], ['on,2001:db8::1,x', 'on,[2001:db8::1]'],
     ['off,203.0.113.7,closed', 'off'], ['on,1.2.3.256,x', 'off'], [undef, 'off']) {
    my ($name, $r) = ('?state of ' . ($_->[0] // 'no file'));
    $r = cgi($name, 'Porvane.cgi', $_->[0], QUERY_STRING => 'state');
    is join('|', $r->{status}, @{$r->{h}}{'content-type', 'cache-control'}, $r->{body}),
        "200|text/plain; charset=US-ASCII|no-store|$_->[1]\n", $name;
}

# Only GET and HEAD: HEAD has GET's headers and no body; others get 405 once the body is read, up to 1 MiB:
# [method, body bytes sent, bytes the script reads, CONTENT_LENGTH if any (no or a bad one reads none)]
my @refused = ([POST => 100_000, 100_000, 100_000], [PUT => 2 << 20, 1 << 20, 50_000_000], [POST => 70_000, 70_000, 100_000],
    [POST => 5, 5, 1 + (1 << 20)], [OPTIONS => 10, 0], [POST => 10, 0, -1], [POST => 10, 0, '1e5']);
for my $script (qw(nomrel.cgi Porvane.cgi)) {
    my @env = ("on,203.0.113.7,x\r\n", REMOTE_ADDR => '203.0.113.7');
    my ($get, $head) = map { cgi("$script $_", $script, @env, REQUEST_METHOD => $_) } qw(GET HEAD);
    is_deeply [$head->{h}, $head->{body}], [$get->{h}, ''], "$script HEAD: the headers of GET, no body";
    my @got = map { cgi("$script $_->[0]", $script, @env, REQUEST_METHOD => $_->[0], BODY => 'x' x $_->[1],
                        map { (CONTENT_LENGTH => $_) } @$_[3 .. $#$_]) } @refused;
    is_deeply [map { "$_->{status} $_->{h}{allow} [$_->{body}] read $_->{read}" } @got],
        [map { "405 GET, HEAD [] read $_->[2]" } @refused], "$script 405, body read";
}

# Deployed on Debian's Apache 2 as gateway/README.md says: both scripts, the shipped .htaccess and
# ipdata.txt (644) in a folder with Debian's settings (event MPM and mod_cgid, which cuts the reply to a POST
# larger than a pipe buffer if the script ends before reading it: 599 here; listings on, CGI left to .htaccess).
my ($apache, $log); # the server's pid and its log; closing the log waits for the server to end
END { local $?; kill 'TERM', $apache and close $log if $apache }
$SIG{$_} = sub { exit 1 } for qw(INT TERM HUP);
SKIP: {
    skip '/usr/sbin/apache2 is not installed (tools/setup.sh installs apache2-bin)', 7 unless -x '/usr/sbin/apache2';
    my ($tmp, $port, $up) = tempdir(CLEANUP => 1);
    # The worker runs as nobody when the test runs as root, so every folder on the way is 755.
    chmod 0755, $tmp;
    system("install -d -m 755 $tmp/www && install -m 755 $SRC/*.cgi $tmp/www && install -m 644 $SRC/.htaccess $tmp/www") == 0 or die;
    spew("$tmp/www/ipdata.txt", "on,127.0.0.1,x\r\n") && chmod 0644, "$tmp/www/ipdata.txt";
    for (1 .. 3) {
        $port = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Listen => 1)->sockport;
        spew("$tmp/apache.conf", "ServerRoot $tmp\nServerName 127.0.0.1\nListen 127.0.0.1:$port\nPidFile $tmp/pid\n"
            . "DefaultRuntimeDir $tmp\nScriptSock $tmp/cgisock\nErrorLog /dev/stderr\nTypesConfig /etc/mime.types\n"
            . ($> == 0 ? "User nobody\nGroup nogroup\n" : '') . join('', map { "LoadModule ${_}_module "
            . "/usr/lib/apache2/modules/mod_$_.so\n" } qw(mpm_event authz_core mime cgid dir autoindex))
            . "DocumentRoot $tmp/www\n<Directory $tmp/www>\nOptions Indexes\nAllowOverride All\nRequire all granted\n</Directory>\n");
        # Its own session, as it signals its whole group at the end; up once it says so, gone if the port was taken.
        $apache = open($log, '-|', "exec setsid /usr/sbin/apache2 -f $tmp/apache.conf -DFOREGROUND 2>&1") or die $!;
        while (<$log>) { $up = 1, last if /resuming normal operations/ }
        last if $up;
    }
    for (['nomrel.cgi', qr/\A200 IPADDR=\[127\.0\.0\.1\]=IPADDR\z/], ['Porvane.cgi', qr{\A200 .*<a href="http://127\.0\.0\.1/">}s],
         ['Porvane.cgi?state', qr/\A200 on,127\.0\.0\.1\n\z/],
         ['ipdata.txt', qr/\A403 (?!.*127\.0\.0\.1)/s], ['', qr/\A403 (?!.*Porvane)/s],
         ['nomrel.cgi', qr/\A405 GET, HEAD \z/, 'x' x 200_000], ['Porvane.cgi', qr/\A405 GET, HEAD \z/, 'x' x 200_000]) {
        my ($path, $want, $body, $method) = (@$_[0 .. 2], $_->[2] ? 'POST' : 'GET');
        my $r = HTTP::Tiny->new(proxy => undef, http_proxy => undef)->request($method, "http://127.0.0.1:$port/$path", { content => $body });
        like join(' ', $r->{status}, $r->{headers}{allow} // (), $r->{content}), $want, "Apache: $method /$path";
    }
}

done_testing;
