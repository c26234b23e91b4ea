my %m;
for my $i (1 .. 300000) { $m{"key$i"} = $i; }
my $s = 0;
for my $i (1 .. 300000) { $s += $m{"key$i"}; }
print "$s\n";
