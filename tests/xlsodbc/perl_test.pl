#!/usr/bin/perl
# Real-client test: Debian's DBD::ODBC reads the fixture workbooks through the
# built driver (ODBCSYSINI names the build's etc/).
# usage: perl_test.pl <fixtures folder>
use strict;
use warnings;
use utf8;
use DBI;
use Encode qw(decode);

my $fixtures = shift or die "usage: perl_test.pl <fixtures>\n";
my $driver = 'DRIVER={Velkor Excel Driver (*.xls)}';
sub fail { die "FAIL: @_\n" }
sub connect_to {
    my ($file) = @_;
    return DBI->connect("dbi:ODBC:$driver;DBQ=$fixtures/$file", '', '',
                        { RaiseError => 1, PrintError => 0, LongReadLen => 40000 });
}

# Debian's DBD::ODBC is built without its wide-character mode: it calls the
# narrow functions, which give UTF-8 bytes.
sub text { return defined $_[0] ? decode('UTF-8', $_[0]) : undef }

my $dbh = connect_to('lo_driver.xls');

# The catalogue: worksheets, then defined names.
my @tables = map { $_->{TABLE_NAME} }
    @{ $dbh->table_info(undef, undef, '%', undef)->fetchall_arrayref({}) };
"@tables[0..2]" eq q{Sheet1$ 'My Sheet$' 'Bob''s Data$'} or fail("tables: @tables");
grep { $_ eq 'Prices' } @tables or fail("no defined name: @tables");
my @columns = map { $_->{COLUMN_NAME} }
    @{ $dbh->column_info(undef, undef, 'Headers$', undef)->fetchall_arrayref({}) };
"@columns" eq 'Qty qty1 F3 F31 Qty2' or fail("columns: @columns");
my $keys = $dbh->primary_key_info(undef, undef, 'Sheet1$');
$keys && !@{ $keys->fetchall_arrayref } or fail('primary_key_info is not an empty result');

# A sheet with non-ASCII text, dates and times, empty rows.
my $sth = $dbh->prepare('select * from [Sheet1$]');
$sth->execute;
"@{ $sth->{NAME} }" eq 'Name Qty Price Day Note' or fail("names: @{ $sth->{NAME} }");
my $rows = $sth->fetchall_arrayref;
@$rows == 5 or fail('row count ' . scalar @$rows);
$rows->[0][3] eq '2024-01-15' or fail("date: $rows->[0][3]");
$rows->[1][3] eq '2024-02-29 13:45:00' or fail("date and time: $rows->[1][3]");
text($rows->[3][0]) eq 'Grüße 日本 😀' or fail('non-ASCII text read wrongly');
$rows->[3][3] eq '13:45:00' or fail("time: $rows->[3][3]");
!defined $rows->[2][0] or fail('an empty row is not NULL');

# An unknown table is 42S02 and names the table.
eval { $dbh->do('select * from [Nope$]'); 1 } and fail('unknown table accepted');
$dbh->state eq '42S02' or fail('state ' . $dbh->state);
$dbh->errstr =~ /Nope\$/ or fail('message: ' . $dbh->errstr);
$dbh->disconnect;

# The same workbook saved as .xlsx gives the same rows.
my $xlsx = connect_to('lo_driver.xlsx');
my $again = $xlsx->selectall_arrayref('select * from [Sheet1$]');
join('|', map { join(',', map { defined $_ ? $_ : '<NULL>' } @$_) } @$again) eq
    join('|', map { join(',', map { defined $_ ? $_ : '<NULL>' } @$_) } @$rows)
    or fail('the .xlsx reads otherwise than the .xls');
$xlsx->disconnect;

# A 32,767-character cell comes out whole.
my $big = connect_to('xlwt_driver.xls');
my %values = map { $_->[0] => $_->[1] } @{ $big->selectall_arrayref('select * from [Values$]') };
length($values{long}) == 32767 && $values{long} eq 'x' x 32767 or fail('long cell');
text($values{unicode}) eq 'Ünïcödé ☃ 𝄞' or fail('unicode cell');
$big->disconnect;
# Statements the SQL engine runs, with ? parameters.
my $sales = connect_to('xlwt_sql.xls');
my $q = $sales->prepare('select Product from [Sales$] where Units > ? and Region = ? order by Units');
$q->execute(5, 'NORTH');
my @products = map { $_->[0] } @{ $q->fetchall_arrayref };
"@products" eq 'Pencil pen' or fail("parameters: @products");
$q->execute(8, 'north');
@products = map { $_->[0] } @{ $q->fetchall_arrayref };
"@products" eq 'pen' or fail("parameters again: @products");
my ($count) = $sales->selectrow_array('select count(*) from [Sales$] where Day >= #2/1/2024#');
$count eq '2' or fail("date literal: $count");
$sales->disconnect;
print "perl ok\n";
