my $s = "";
for my $i (1 .. 300000) { $s .= "ab"; }
print length($s), "\n";
