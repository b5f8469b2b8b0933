#!/usr/bin/perl
# The gateway deployed on Debian's Apache 2 as gateway/README.md says: the two scripts, the
# shipped .htaccess and ipdata.txt (644) in one folder the server lets .htaccess configure.
# The server runs from a configuration of its own and is stopped however the test ends.
use strict;
use warnings;
use Test::More;
use File::Basename qw(dirname);
use File::Copy qw(copy);
use File::Temp qw(tempdir);
use HTTP::Tiny;
use IO::Socket::INET;
use POSIX qw(WNOHANG);

my $SRC = $ENV{ZENTROW_GATEWAY_DIR} || dirname(__FILE__) . '/../../gateway';
my $APACHE = '/usr/sbin/apache2';
my $MODULES = '/usr/lib/apache2/modules';
plan skip_all => "$APACHE is not installed (tools/setup.sh installs apache2-bin)" unless -x $APACHE;

# The worker runs as nobody when the test runs as root, so every folder on the way is 755.
my $tmp = tempdir(CLEANUP => 1);
my $www = "$tmp/www";
mkdir $www or die "$www: $!";
chmod 0755, $tmp, $www;
for (qw(nomrel.cgi Porvane.cgi .htaccess)) {
    copy("$SRC/$_", "$www/$_") or die "copy $_: $!";
    chmod(/\.cgi\z/ ? 0755 : 0644, "$www/$_");
}
open my $fh, '>', "$www/ipdata.txt" or die $!;
print $fh "on,127.0.0.1,x\r\n";
close $fh;
chmod 0644, "$www/ipdata.txt";

my ($pid, $port);
sub stop { local $?; kill 'TERM', $pid and waitpid $pid, 0 if $pid; $pid = undef }
END { stop() }
$SIG{$_} = sub { exit 1 } for qw(INT TERM HUP);

# Debian's own setting for a web folder: listings on, CGI left to the folder's .htaccess.
sub start {
    $port = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Listen => 1)->sockport;
    my $user = $> == 0 ? "User nobody\nGroup nogroup\n" : '';
    open my $conf, '>', "$tmp/apache.conf" or die $!;
    print $conf "ServerRoot $tmp\nServerName 127.0.0.1\nListen 127.0.0.1:$port\nPidFile $tmp/apache.pid\n",
        "DefaultRuntimeDir $tmp\nErrorLog $tmp/error.log\nTypesConfig /etc/mime.types\n$user",
        map({ "LoadModule ${_}_module $MODULES/mod_$_.so\n" } qw(mpm_prefork authz_core mime cgi dir autoindex)),
        "DocumentRoot $www\n<Directory $www>\n  Options Indexes\n  AllowOverride All\n  Require all granted\n</Directory>\n";
    close $conf;
    $pid = fork // die "fork: $!";
    # A group of its own: at its end apache signals its whole process group.
    if (!$pid) { setpgrp; exec $APACHE, '-f', "$tmp/apache.conf", '-DFOREGROUND'; exit 127 }
    # Up once it has its port; a port taken meanwhile makes it exit instead.
    for (1 .. 100) {
        return 1 if -f "$tmp/error.log" && `cat $tmp/error.log` =~ /resuming normal operations/;
        return $pid = undef if waitpid($pid, WNOHANG) == $pid;
        select undef, undef, undef, 0.1;
    }
    stop();
    return 0;
}
for (1 .. 3) { last if start() }
BAIL_OUT('apache2 did not come up: ' . `cat $tmp/error.log`) unless $pid;

my $http = HTTP::Tiny->new(timeout => 20, proxy => undef, http_proxy => undef);
sub get { return $http->request($_[1] // 'GET', "http://127.0.0.1:$port/$_[0]", $_[2] // {}) }

for ([ 'nomrel.cgi', 200, qr/\AIPADDR=\[127\.0\.0\.1\]=IPADDR\z/ ],
     [ 'Porvane.cgi', 200, qr{<a href="http://127\.0\.0\.1/">} ],
     [ 'ipdata.txt', 403, qr/\A(?!.*127\.0\.0\.1)/s ],
     [ '', 403, qr/\A(?!.*Porvane)/s ]) {
    my ($path, $status, $body) = @$_;
    my $r = get($path);
    is $r->{status}, $status, "/$path: status";
    like $r->{content}, $body, "/$path: body";
}
for my $script (qw(nomrel.cgi Porvane.cgi)) {
    my $r = get($script, 'POST', { content => 'x' x 4_000_000, headers => { 'Content-Type' => 'text/plain' } });
    is $r->{status}, 405, "$script POST: status";
    is $r->{headers}{allow}, 'GET, HEAD', "$script POST: Allow header";
}
diag `cat $tmp/error.log` unless Test::More->builder->is_passing;
done_testing;
