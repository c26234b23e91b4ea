my @b; my $x = 12345;
for my $i (1 .. 1000000) { $x = ($x * 75 + 74) & 65535; push @b, $x; }
@b = sort { $a <=> $b } @b;
print scalar(@b), "\n";
