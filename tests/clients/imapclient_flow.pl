#!/usr/bin/perl
# The flow of library_flow.py through Mail::IMAPClient, written as a migration script uses the
# library: the plan (a JSON file, the first argument) names the server, the folders and the
# changes; the report (JSON on the standard output) holds what the library returned and each
# step's error (null when it worked). Folder names go through Encode::IMAPUTF7.
use strict;
use warnings;
use Encode qw(decode encode);
use Encode::IMAPUTF7;
use JSON::PP;
use MIME::Base64;
use Mail::IMAPClient;

my $plan = do {
    local $/;
    open my $f, '<', $ARGV[0] or die "$ARGV[0]: $!";
    decode_json(<$f>);
};
my %report = (steps => {}, read => {}, flags => {});
my $imap;

# Runs one step, which returns true when it worked; a failure (the library's last error) is
# recorded and the flow goes on.
sub step {
    my ($name, $code) = @_;
    my $ok = eval { $code->() };
    my $error = $@ || ($ok ? undef : ($imap && $imap->LastError) || 'failed');
    $report{steps}{$name} = defined $error ? "$error" : undef;
}

sub wire { encode('IMAP-UTF-7', $_[0]) }

sub flags_of {
    my ($folder) = @_;
    $imap->select(wire($folder)) or return 0;
    my $flags = $imap->flags([$imap->messages]) or return 0;
    $report{flags}{$folder} = { map { $_ => [sort @{ $flags->{$_} }] } keys %$flags };
}

step(login => sub {
    $imap = Mail::IMAPClient->new(Server => '127.0.0.1', Port => $plan->{port},
                                  User => $plan->{user}, Password => $plan->{password},
                                  Uid => 1, Peek => 1, Timeout => 60);
    $imap or die "connect: $@\n";
    $imap->IsAuthenticated or die $imap->LastError;
});
exit 1 unless $imap && $imap->IsAuthenticated;

step(list => sub {
    my $folders = $imap->folders or return 0;
    $report{folders} = [map { decode('IMAP-UTF-7', $_) } @$folders];
    1;
});

for my $folder (@{ $plan->{read} }) {
    step("read $folder" => sub {
        $imap->select(wire($folder)) or return 0;
        my @read;
        for my $uid (@{ $imap->messages or return 0 }) {
            my $source = $imap->message_string($uid);
            defined $source or return 0;
            my $subject = $imap->subject($uid);
            push @read, { uid => $uid + 0, source => encode_base64($source, ''),
                          subject => decode('MIME-Header', $subject // ''),
                          flags => [sort $imap->flags($uid)] };
        }
        $report{read}{$folder} = \@read;
        1;
    });
}

my $change = $plan->{change};
step(flags => sub {
    $imap->select(wire($change->{folder})) or return 0;
    $imap->set_flag('\\Seen', $change->{mark}) && $imap->set_flag('\\Flagged', $change->{mark})
        && $imap->unset_flag('\\Seen', $change->{unread})
        && $imap->set_flag('\\Flagged', $change->{flag_unflag})
        && $imap->unset_flag('\\Flagged', $change->{flag_unflag});
});

my $append = $plan->{append};
step(append => sub {
    my $text = do { local $/; open my $f, '<:raw', $append->{file} or die $!; <$f> };
    my $uid = $imap->append_string(wire($append->{folder}), $text,
                                   join(' ', @{ $append->{flags} }), $append->{date});
    defined $uid or return 0;
    # The UID of the APPENDUID code, else the client object.
    $report{appended_uid} = $uid =~ /^\d+$/ ? $uid + 0 : undef;
    1;
});

# A move as the library makes it: COPY, \Deleted, EXPUNGE.
step(move => sub {
    $imap->select(wire($change->{folder})) or return 0;
    $imap->move(wire($change->{move_to}), $change->{mark}) or return 0;
    $imap->expunge;
});

for my $folder (@{ $plan->{check} }) {
    step("flags $folder" => sub { flags_of($folder) });
}
step(logout => sub { $imap->logout });
binmode STDOUT;
print encode_json(\%report);
