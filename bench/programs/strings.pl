my @b;
for my $i (1 .. 2000000) { push @b, "$i"; }
print scalar(@b), "\n";
