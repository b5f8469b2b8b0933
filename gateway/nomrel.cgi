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

binmode STDOUT;

# Only GET and HEAD; anything else is turned away before its body is read.
my $method = $ENV{REQUEST_METHOD} // 'GET';
if ($method ne 'GET' && $method ne 'HEAD') {
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
