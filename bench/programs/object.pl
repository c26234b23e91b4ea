package Point;
sub new { return bless { x => 0, y => 0 }, shift; }
sub move { my ($self, $dx, $dy) = @_; $self->{x} = $self->{x} + $dx; $self->{y} = $self->{y} + $dy; }
package main;
my $p = Point->new;
for my $i (1 .. 3000000) { $p->{x} = $p->{x} + 1; $p->move(1, 2); }
print "$p->{x} $p->{y}\n";
