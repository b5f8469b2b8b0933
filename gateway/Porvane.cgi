#!/usr/bin/perl
# Porvane.cgi - the gateway page. Reads ipdata.txt, which Zentrow uploads, and either
# links to the home server (state "on") or shows the closed message (anything else).
#
# ipdata.txt is read the way Zentrow reads it: all lines joined with nothing between,
# then cut at every comma: state, address, closed message (a message cut at a comma
# shows its first part only). The file is CP932; its bytes reach the page unchanged
# apart from HTML escaping. The page is a link, not a redirect, so nothing from the file
# ever goes into a response header.
#
# Porvane.cgi?state answers Zentrow, which asks after each upload whether the page shows it: one
# line of text, "on," and the host (and port) the link goes to, or "off" while the page shows the
# closed text. It tells nothing the page does not show.
use strict;
use warnings;
use Encode ();
use FindBin ();

# Where the data file lives; a relative path is taken from this script's folder.
my $IPDATA_FILE = 'ipdata.txt';

# Page texts as escapes: an FTP client that converts the text encoding cannot change them.
my $OPEN_HEADING = "\x{30DB}\x{30FC}\x{30E0}\x{30B5}\x{30FC}\x{30D0}\x{30FC}\x{306F}\x{516C}\x{958B}\x{4E2D}\x{3067}\x{3059}"; # ホームサーバーは公開中です
my $OPEN_TEXT = "\x{4E0B}\x{306E}\x{30EA}\x{30F3}\x{30AF}\x{304B}\x{3089}\x{304A}\x{5165}\x{308A}\x{304F}\x{3060}\x{3055}\x{3044}\x{3002}"; # 下のリンクからお入りください。
my $CLOSED_HEADING = "\x{305F}\x{3060}\x{3044}\x{307E}\x{9589}\x{9396}\x{4E2D}\x{3067}\x{3059}"; # ただいま閉鎖中です

# Zentrow writes one short line. A larger file is not a gateway file and reads as closed;
# Zentrow reads ipdata.txt with the same bound, so the page and the program never disagree.
my $MAX_BYTES = 65536;

# The most of a refused request's body that is read (and dropped) before answering.
my $MAX_BODY = 1 << 20;

binmode STDOUT;

# Only GET and HEAD; anything else gets 405 once its body is read: a web server still writing the
# body to a script that has ended cuts the reply (Apache's mod_cgid).
my $method = $ENV{REQUEST_METHOD} // 'GET';
if ($method ne 'GET' && $method ne 'HEAD') {
    discard_body();
    print "Status: 405 Method Not Allowed\nAllow: GET, HEAD\n\n";
    exit 0;
}

my ($state, $address, $message) = read_ipdata(data_path());
my $target = ($state eq 'on') ? home_url($address) : undef;
if (($ENV{QUERY_STRING} // '') eq 'state') {
    print_state(defined $target ? 'on,' . ($target =~ m{\Ahttp://(.*)/\z})[0] : 'off');
} else {
    print_page(defined $target ? open_page($target) : closed_page($message));
}
exit 0;

sub data_path {
    return $IPDATA_FILE if $IPDATA_FILE =~ m{\A/};
    return "$FindBin::RealBin/$IPDATA_FILE";
}

# Missing, empty, unreadable or oversized files all read as closed with no message.
sub read_ipdata {
    my ($path) = @_;
    my $bytes = '';
    if (-f $path && open my $fh, '<:raw', $path) {
        my $got = read $fh, $bytes, $MAX_BYTES + 1;
        $bytes = '' unless defined $got && $got <= $MAX_BYTES;
        close $fh;
    }
    $bytes =~ tr/\r\n//d;
    my @fields = split /,/, $bytes, -1;
    return map { defined $_ ? $_ : '' } @fields[0 .. 2];
}

# http://host[:port]/ for a plain host name or IP literal, undef for anything else.
sub home_url {
    my ($addr) = @_;
    my ($host, $port);
    if ($addr =~ /\A\[([^\]]*)\](?::(\d{1,5}))?\z/) {
        ($host, $port) = ($1, $2);
        return undef unless is_ipv6($host);
        $host = "[$host]";
    } elsif (is_ipv6($addr)) {
        $host = "[$addr]";
    } elsif ($addr =~ /\A([^:]+)(?::(\d{1,5}))?\z/) {
        ($host, $port) = ($1, $2);
        if ($host =~ /\A\d+\.\d+\.\d+\.\d+\z/) {
            $host = ipv4($host);
            return undef unless defined $host;
        } else {
            return undef unless is_host_name($host);
        }
    } else {
        return undef;
    }
    if (defined $port) {
        return undef unless $port >= 1 && $port <= 65535;
        $host .= ':' . ($port + 0);
    }
    return "http://$host/";
}

# Dotted IPv4 with leading zeros dropped (browsers would read 010 as octal); 0.0.0.0 is no address.
sub ipv4 {
    my @octets = split /\./, $_[0];
    return undef if grep { length $_ > 3 || $_ > 255 } @octets;
    my $ip = join '.', map { $_ + 0 } @octets;
    return $ip eq '0.0.0.0' ? undef : $ip;
}

sub is_ipv6 {
    my ($s) = @_;
    return 0 unless $s =~ /:/ && $s =~ /\A[0-9A-Fa-f:.]+\z/;
    my $groups = 8;
    if ($s =~ /\A(.*:)(\d+\.\d+\.\d+\.\d+)\z/) {
        my ($head, $v4) = ($1, $2);
        return 0 if grep { length $_ > 3 || $_ > 255 } split /\./, $v4;
        $s = $head =~ /::\z/ ? $head : substr($head, 0, -1);
        $groups = 6;
    }
    my @halves = split /::/, $s, -1;
    return 0 if @halves > 2;
    my @parts = map { length $_ ? split(/:/, $_, -1) : () } @halves;
    return 0 if grep { !/\A[0-9A-Fa-f]{1,4}\z/ } @parts;
    return @halves == 2 ? @parts < $groups : @parts == $groups;
}

# Letters, digits and hyphens in dot-separated labels; the last label starts with a
# letter, so browsers never take the name for a shortened or hexadecimal IPv4 address.
sub is_host_name {
    my ($h) = @_;
    return 0 if length $h > 253;
    my @labels = split /\./, $h, -1;
    return 0 if grep { !/\A[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?\z/ } @labels;
    return $labels[-1] =~ /\A[A-Za-z]/ ? 1 : 0;
}

sub open_page {
    my ($url) = @_;
    my $link = html_escape($url);
    return sjis("<h1>$OPEN_HEADING</h1>\n<p>$OPEN_TEXT</p>\n")
         . qq{<p><a href="$link">$link</a></p>\n};
}

sub closed_page {
    my ($message) = @_;
    my $body = sjis("<h1>$CLOSED_HEADING</h1>\n");
    $body .= '<p>' . html_escape(clean_cp932($message)) . "</p>\n" if length $message;
    return $body;
}

sub print_page {
    my ($body) = @_;
    print "Content-Type: text/html; charset=Shift_JIS\n",
          "Cache-Control: no-store\n",
          "\n";
    return if $method eq 'HEAD';
    print qq{<!DOCTYPE html>\n<html lang="ja">\n<head>\n<meta charset="Shift_JIS">\n},
          "<title>Porvane</title>\n</head>\n<body>\n",
          $body,
          "</body>\n</html>\n";
}

sub print_state {
    my ($answer) = @_;
    print "Content-Type: text/plain; charset=US-ASCII\n",
          "Cache-Control: no-store\n",
          "\n";
    print "$answer\n" unless $method eq 'HEAD';
}

sub sjis { return Encode::encode('cp932', $_[0]) }

# Keeps every well-formed CP932 character byte for byte; control bytes go, and stray bytes
# become "?" so that a broken double-byte character cannot swallow the markup after it.
sub clean_cp932 {
    my ($bytes) = @_;
    my $out = '';
    while ($bytes =~ /\G(?:([\x20-\x7E\xA1-\xDF]|[\x81-\x9F\xE0-\xFC][\x40-\x7E\x80-\xFC])|([\x00-\x1F\x7F])|[\x80-\xFF])/g) {
        $out .= defined $1 ? $1 : defined $2 ? '' : '?';
    }
    return $out;
}

# Byte-wise escaping is safe for CP932: none of these bytes is ever the second byte of a character.
sub html_escape {
    my ($s) = @_;
    $s =~ s/&/&amp;/g;
    $s =~ s/</&lt;/g;
    $s =~ s/>/&gt;/g;
    $s =~ s/"/&quot;/g;
    $s =~ s/'/&#39;/g;
    return $s;
}

# Reads and drops up to CONTENT_LENGTH bytes (at most $MAX_BODY); no or a bad length reads nothing.
sub discard_body {
    my $left = ($ENV{CONTENT_LENGTH} // '') =~ /\A\d{1,15}\z/ ? $ENV{CONTENT_LENGTH} : 0;
    $left = $MAX_BODY if $left > $MAX_BODY;
    binmode STDIN;
    while ($left > 0) {
        my $got = sysread STDIN, my $chunk, $left < 65536 ? $left : 65536;
        last unless $got;    # end of input or an error: nothing more will come
        $left -= $got;
    }
    return;
}
