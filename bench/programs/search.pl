my $text = "";
for my $i (1 .. 100000) { $text .= "words before the needle and words after it, "; }
my $hits = 0;
my $out;
for (1 .. 5) {
    $out = "";
    my $pos = 0;
    while ((my $hit = index($text, "needle", $pos)) >= 0) {
        $out .= substr($text, $pos, $hit - $pos);
        $out .= "pin";
        $pos = $hit + 6;
        $hits = $hits + 1;
    }
    $out .= substr($text, $pos);
}
print "$hits ", length($text), " ", length($out), "\n";
