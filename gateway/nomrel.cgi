#!/usr/bin/perl
# nomrel.cgi - answers with the caller's own IP address, as the web server sees it.
#
# Body (text/plain, ASCII, no line break):  IPADDR=[<address>]=IPADDR
# Zentrow drops the first 8 and the last 8 characters and keeps the rest.
# Only REMOTE_ADDR is trusted; X-Forwarded-For and the like can be forged by anyone.
use strict;
use warnings;

my $PREFIX = 'IPADDR=[';
my $SUFFIX = ']=IPADDR';

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

my $addr = client_address($ENV{REMOTE_ADDR});
if (defined $addr) {
    print "Content-Type: text/plain; charset=US-ASCII\n",
          "Cache-Control: no-store\n",
          "\n";
    print $PREFIX, $addr, $SUFFIX unless $method eq 'HEAD';
} else {
    # Shorter than the 16 framing characters, so it can never be cut into an address.
    print "Status: 500 Internal Server Error\n",
          "Content-Type: text/plain; charset=US-ASCII\n",
          "Cache-Control: no-store\n",
          "\n";
    print "no address" unless $method eq 'HEAD';
}
exit 0;

# The address as published, or undef unless REMOTE_ADDR is a plain IPv4 or IPv6 literal.
sub client_address {
    my ($raw) = @_;
    return undef unless defined $raw && length $raw <= 45;
    # A dual-stack server reports IPv4 callers as ::ffff:a.b.c.d; publish the IPv4 address itself.
    $raw =~ s/\A::ffff:(?=\d+\.\d+\.\d+\.\d+\z)//i;
    if ($raw =~ /\A(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})\z/) {
        return undef if grep { $_ > 255 } $1, $2, $3, $4;
        return join '.', map { $_ + 0 } $1, $2, $3, $4;
    }
    return $raw if $raw =~ /\A[0-9A-Fa-f:.]+\z/ && $raw =~ /:.*:/;
    return undef;
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
