my $s = 0;
for my $i (1 .. 2000000) { $s = $s + ($i * 2) - 1; }
print "$s\n";
