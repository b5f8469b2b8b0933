#!/usr/bin/perl
# The two gateway scripts run as a web server would run them: a copy of each in its own
# temp folder, CGI variables in the environment, the response read from standard output.
use strict;
use warnings;
use utf8;
use Test::More;
use Encode ();
use File::Basename qw(dirname);
use File::Copy qw(copy);
use File::Temp qw(tempdir);

my $SRC = $ENV{ZENTROW_GATEWAY_DIR} || dirname(__FILE__) . '/../../gateway';
my $MENTE = "\x83\x81\x83\x93\x83\x65\x83\x69\x83\x93\x83\x58\x92\x86";    # メンテナンス中 in CP932
binmode Test::More->builder->$_, ":encoding(UTF-8)" for qw(output failure_output todo_output);
sub sj { Encode::encode('cp932', $_[0]) }

# Copies the script into a fresh folder, with ipdata.txt holding $data unless it is undef.
sub install {
    my ($script, $data) = @_;
    my $dir = tempdir(CLEANUP => 1);
    copy("$SRC/$script", "$dir/$script") or die "copy $script: $!";
    chmod((stat "$SRC/$script")[2] & 07777, "$dir/$script");
    write_file("$dir/ipdata.txt", $data) if defined $data;
    return ($dir, "$dir/$script");
}

sub read_file {
    open my $fh, '<:raw', $_[0] or die "$_[0]: $!";
    local $/;
    return scalar <$fh>;
}

sub write_file {
    open my $fh, '>:raw', $_[0] or die "$_[0]: $!";
    print $fh $_[1];
    close $fh;
}

sub run_cgi {
    my ($path, %cgi) = @_;
    my $err = File::Temp->new;
    # Standard input is a pipe nobody writes to: a script that reads a request body hangs
    # there until the alarm, which survives exec, ends it.
    pipe my $in, my $feed or die "pipe: $!";
    my $pid = open(my $out, '-|') // die "fork: $!";
    if (!$pid) {
        %ENV = (PATH => '/usr/bin:/bin', GATEWAY_INTERFACE => 'CGI/1.1', REQUEST_METHOD => 'GET',
                SERVER_PROTOCOL => 'HTTP/1.1', SERVER_NAME => '127.0.0.1', SERVER_PORT => '80', %cgi);
        open STDIN, '<&', $in;
        open STDERR, '>', $err->filename;
        alarm 10;
        exec $path or exit 127;
    }
    binmode $out;
    my $raw = do { local $/; <$out> };
    close $out;
    my %r = (exit => $?, stderr => read_file($err->filename));
    ($r{head}, $r{body}) = $raw =~ /\A(.*?)\r?\n\r?\n(.*)\z/s or return \%r;
    for (split /\r?\n/, $r{head}) {
        my ($k, $v) = /\A([A-Za-z-]+): ([\x20-\x7E]*)\z/ or $r{bad_header} = $_, next;
        $r{h}{lc $k} = $v;
    }
    ($r{status}) = ($r{h}{status} // '200') =~ /\A(\d{3})/;
    return \%r;
}

# A response the server can pass on: clean exit, no warnings, well-formed headers.
sub clean {
    my ($r, $name) = @_;
    is $r->{exit}, 0, "$name: exit status";
    is $r->{stderr}, '', "$name: no warnings";
    ok defined $r->{body} && !defined $r->{bad_header}, "$name: well-formed headers";
}

sub porvane { my ($dir, $path) = install('Porvane.cgi', $_[0]); return run_cgi($path, SCRIPT_NAME => '/Porvane.cgi') }

sub is_closed {
    my ($r, $name, $message) = @_;
    clean($r, $name);
    is $r->{status}, 200, "$name: status 200";
    like $r->{body}, qr/\Q${\ sj('ただいま閉鎖中です')}\E/, "$name: closed page";
    unlike $r->{body}, qr/href|http:/i, "$name: no link";
    ok !exists $r->{h}{location}, "$name: no Location header";
    like $r->{body}, qr{<p>\Q$message\E</p>}, "$name: message" if defined $message;
}

sub is_open {
    my ($r, $name, $url) = @_;
    clean($r, $name);
    like $r->{body}, qr/\Q${\ sj('ホームサーバーは公開中です')}\E/, "$name: open page";
    like $r->{body}, qr{<a href="\Q$url\E">\Q$url\E</a>}, "$name: links to $url";
    unlike $r->{body}, qr/\Q${\ sj('閉鎖中')}\E/, "$name: not closed";
}

subtest 'scripts are executable' => sub {
    ok -x "$SRC/$_", "$_ is executable" for qw(nomrel.cgi Porvane.cgi);
};

subtest 'nomrel.cgi echoes the caller' => sub {
    my (undef, $path) = install('nomrel.cgi');
    for ([ '203.0.113.7', '203.0.113.7' ], [ '127.0.0.1', '127.0.0.1' ], [ '2001:db8::1', '2001:db8::1' ],
         [ '::1', '::1' ], [ '::ffff:203.0.113.7', '203.0.113.7' ], [ '010.000.000.001', '10.0.0.1' ]) {
        my ($remote, $want) = @$_;
        my $r = run_cgi($path, REMOTE_ADDR => $remote);
        clean($r, $remote);
        is $r->{status}, 200, "$remote: status";
        like $r->{h}{'content-type'}, qr{\Atext/plain\b}, "$remote: plain text";
        is $r->{body}, "IPADDR=[$want]=IPADDR", "$remote: body";
    }
    for ([ 'missing', undef ], [ 'empty', '' ], [ 'list', '1.2.3.4, 5.6.7.8' ], [ 'octet', '1.2.3.256' ],
         [ 'markup', '<script>' ], [ 'line break', "1.2.3.4\r\nX-Evil: 1" ]) {
        my ($name, $remote) = @$_;
        my $r = run_cgi($path, defined $remote ? (REMOTE_ADDR => $remote) : ());
        clean($r, $name);
        is $r->{status}, 500, "$name: error status";
        cmp_ok length $r->{body}, '<', 16, "$name: body too short to be cut into an address";
    }
};

subtest 'Porvane.cgi reads ipdata.txt as Zentrow does' => sub {
    is_open(porvane("on,203.0.113.7,$MENTE\r\n"), 'on', 'http://203.0.113.7/');
    unlike porvane("on,203.0.113.7,$MENTE\r\n")->{body}, qr/\Q$MENTE\E/, 'on: message hidden';
    is_open(porvane("o\r\nn,203.0.113.7\r\n,x"), 'lines joined before the state', 'http://203.0.113.7/');
    is_closed(porvane("off,203.0.113.7,$MENTE\r\n"), 'off', $MENTE);
    is_closed(porvane("ON,203.0.113.7,x\r\n"), 'ON is closed', 'x');
    is_closed(porvane(" on,203.0.113.7,x\r\n"), 'blank before on', 'x');
    is_closed(porvane("on\r\n"), 'on without address');
    is_closed(porvane("on,,x\r\n"), 'on with empty address', 'x');
    is_closed(porvane("off,1.2.3.4,ab\r\ncd\r\n"), 'several lines', 'abcd');
    is_closed(porvane("off,1.2.3.4,ab\ncd\n"), 'LF lines', 'abcd');
    my $r = porvane("off,1.2.3.4,a,b\r\n");
    is_closed($r, 'comma in message', 'a');
    unlike $r->{body}, qr/<p>a,?b/, 'comma in message: carried field not shown';
};

subtest 'Porvane.cgi closed message' => sub {
    for ([ 'CP932 bytes intact', $MENTE, $MENTE ],
         [ 'half-width kana and 0x5C trail bytes', "\xD2\xDD\xC3 \x83\x5C\x95\x5C", "\xD2\xDD\xC3 \x83\x5C\x95\x5C" ],
         [ 'markup escaped', q{<b>"x" & 'y'</b>}, '&lt;b&gt;&quot;x&quot; &amp; &#39;y&#39;&lt;/b&gt;' ],
         [ 'script escaped', '<script>alert(1)</script>', '&lt;script&gt;alert(1)&lt;/script&gt;' ],
         [ 'broken lead byte cannot eat markup', "ab\x83", 'ab?' ],
         [ 'control bytes dropped', "a\tb\x00c\x1B", 'abc' ]) {
        my ($name, $msg, $want) = @$_;
        my $r = porvane("off,1.2.3.4,$msg\r\n");
        is_closed($r, $name, $want);
        unlike $r->{body}, qr/<script|<b>/, "$name: no markup from the file";
    }
};

subtest 'Porvane.cgi only links to a plain host' => sub {
    for ([ '203.0.113.7:8080', 'http://203.0.113.7:8080/' ], [ 'home.example.jp', 'http://home.example.jp/' ],
         [ 'my-host.example.jp:80', 'http://my-host.example.jp:80/' ], [ 'localhost', 'http://localhost/' ],
         [ '2001:db8::1', 'http://[2001:db8::1]/' ], [ '[2001:db8::1]:8080', 'http://[2001:db8::1]:8080/' ],
         [ '::ffff:1.2.3.4', 'http://[::ffff:1.2.3.4]/' ],
         [ '1:2:3:4:5:6:1.2.3.4', 'http://[1:2:3:4:5:6:1.2.3.4]/' ], [ '010.001.002.003', 'http://10.1.2.3/' ]) {
        is_open(porvane("on,$_->[0],x\r\n"), $_->[0], $_->[1]);
    }
    for ("1.2.3.4\r\nLocation: http://evil", 'javascript:alert(1)', '1.2.3.4" onclick="alert(1)',
         "1.2.3.4'><script>evil</script>", 'http://1.2.3.4/', 'evil.example/path', 'user@evil.example',
         '1.2.3.256', '0.0.0.0', '1.2.3', '0x7f.1', 'host:0', 'host:65536', 'host:', '-evil.example',
         'a..example', ' 1.2.3.4', '[1.2.3.4]', '[2001:db8::1', '1::2::3', '1:2:3', '1:2:3:4:5:6:7:8:9', 'ホスト.jp') {
        (my $name = $_) =~ s/\r\n/\\r\\n/;
        my $r = porvane(sj("on,$_,x\r\n"));
        is_closed($r, "address $name", 'x');
        unlike $r->{body}, qr/evil|javascript/i, "address $name: not in the page";
    }
};

subtest 'Porvane.cgi without usable ipdata.txt' => sub {
    is_closed(porvane(undef), 'missing file');
    is_closed(porvane(''), 'empty file');
    is_closed(porvane("\r\n"), 'empty line');
    my ($dir, $path) = install('Porvane.cgi');
    mkdir "$dir/ipdata.txt";
    is_closed(run_cgi($path), 'directory in its place');
    SKIP: {
        skip 'root reads every file', 1 if $> == 0;
        ($dir, $path) = install('Porvane.cgi', "on,203.0.113.7,x\r\n");
        chmod 0, "$dir/ipdata.txt";
        is_closed(run_cgi($path), 'unreadable file');
    }
};

subtest 'Porvane.cgi data path setting' => sub {
    my ($dir, $path) = install('Porvane.cgi', "off,,wrong file\r\n");
    my $elsewhere = tempdir(CLEANUP => 1);
    write_file("$elsewhere/data.txt", "on,203.0.113.9,x\r\n");
    my $script = read_file($path);
    ok $script =~ s/^my \$IPDATA_FILE = .*$/my \$IPDATA_FILE = '$elsewhere\/data.txt';/m, 'setting found';
    write_file($path, $script);
    is_open(run_cgi($path), 'absolute path', 'http://203.0.113.9/');
};

subtest 'only GET and HEAD, other methods at once without reading the body' => sub {
    for my $script (qw(nomrel.cgi Porvane.cgi)) {
        my (undef, $path) = install($script, "on,203.0.113.7,x\r\n");
        my %env = (REMOTE_ADDR => '203.0.113.7', SCRIPT_NAME => "/$script");
        my ($get, $head) = map { run_cgi($path, %env, REQUEST_METHOD => $_) } qw(GET HEAD);
        clean($head, "$script HEAD");
        is_deeply $head->{h}, $get->{h}, "$script HEAD: the headers of GET";
        is $head->{body}, '', "$script HEAD: no body";
        for my $method (qw(POST PUT OPTIONS)) {
            my $r = run_cgi($path, %env, REQUEST_METHOD => $method, CONTENT_LENGTH => 50_000_000,
                            CONTENT_TYPE => 'application/x-www-form-urlencoded');
            clean($r, "$script $method");
            is $r->{status}, 405, "$script $method: status";
            is $r->{h}{allow}, 'GET, HEAD', "$script $method: Allow header";
            is $r->{body}, '', "$script $method: no body";
        }
    }
};

subtest 'Porvane.cgi reads at most 65536 bytes, as Zentrow does' => sub {
    my $line = "on,203.0.113.7,x";
    is_open(porvane("\r\n" x ((65536 - length $line) / 2) . $line), '65536 bytes', 'http://203.0.113.7/');
    my $r = porvane("\n" . "\r\n" x ((65536 - length $line) / 2) . $line);
    is_closed($r, '65537 bytes');
    unlike $r->{body}, qr/<p>/, '65537 bytes: no message';
};

subtest 'Porvane.cgi page' => sub {
    my $r = porvane("off,,$MENTE\r\n");
    is $r->{h}{'content-type'}, 'text/html; charset=Shift_JIS', 'charset header';
    like $r->{body}, qr{\A<!DOCTYPE html>\n<html lang="ja">\n<head>\n<meta charset="Shift_JIS">}, 'charset declared first';
    like $r->{body}, qr{</body>\n</html>\n\z}, 'complete page';
    ok eval { Encode::decode('cp932', $r->{body}, Encode::FB_CROAK); 1 }, 'page is valid CP932';
};

done_testing;
