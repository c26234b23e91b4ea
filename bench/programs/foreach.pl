my @b;
for my $i (1 .. 1000000) { push @b, $i; }
my $s = 0;
for (1 .. 5) { for my $x (@b) { $s = $s + $x; } }
print "$s\n";
