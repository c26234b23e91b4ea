my $s = 0;
my $i = 0;
while ($i < 10000000) { $s = $s + ($i % 3); $i = $i + 1; }
print "$s\n";
