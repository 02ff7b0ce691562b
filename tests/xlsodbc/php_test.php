<?php
// Real-client test: PHP's odbc extension reads the fixture workbooks through
// the built driver (ODBCSYSINI names the build's etc/).
// usage: php php_test.php <fixtures folder>
$fixtures = $argv[1];
function fail($what) { fwrite(STDERR, "FAIL: $what\n"); exit(1); }
function connect_to($file) {
    global $fixtures;
    $c = odbc_connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=$fixtures/$file", '', '');
    $c or fail("connect $file: " . odbc_errormsg());
    return $c;
}
function all_rows($result) {
    $rows = [];
    while ($row = odbc_fetch_array($result)) {
        $rows[] = $row;
    }
    return $rows;
}

$c = connect_to('lo_driver.xls');
$tables = array_column(all_rows(odbc_tables($c)), 'TABLE_NAME');
array_slice($tables, 0, 3) === ['Sheet1$', "'My Sheet$'", "'Bob''s Data$'"] or fail('tables: ' . implode(' ', $tables));
in_array('Prices', $tables) or fail('no defined name');
$columns = array_column(all_rows(odbc_columns($c, '', '', 'Headers$')), 'COLUMN_NAME');
$columns === ['Qty', 'qty1', 'F3', 'F31', 'Qty2'] or fail('columns: ' . implode(' ', $columns));
$keys = odbc_primarykeys($c, '', '', 'Sheet1$');
$keys !== false && all_rows($keys) === [] or fail('odbc_primarykeys: ' . odbc_errormsg($c));

$rows = all_rows(odbc_exec($c, 'select * from [Sheet1$]'));
count($rows) === 5 or fail('row count ' . count($rows));
array_keys($rows[0]) === ['Name', 'Qty', 'Price', 'Day', 'Note'] or fail('names');
$rows[0]['Day'] === '2024-01-15' or fail('date: ' . $rows[0]['Day']);
$rows[1]['Day'] === '2024-02-29 13:45:00' or fail('date and time: ' . $rows[1]['Day']);
$rows[3]['Name'] === 'Grüße 日本 😀' or fail('non-ASCII text: ' . $rows[3]['Name']);
$rows[2]['Name'] === null or fail('an empty row is not NULL');

// The same workbook saved as .xlsx gives the same rows.
$x = connect_to('lo_driver.xlsx');
all_rows(odbc_exec($x, 'select * from [Sheet1$]')) === $rows or fail('the .xlsx reads otherwise');
odbc_close($x);

@odbc_exec($c, 'select * from [Nope$]') === false or fail('unknown table accepted');
in_array(odbc_error($c), ['42S02', 'S0002']) or fail('state ' . odbc_error($c));
str_contains(odbc_errormsg($c), 'Nope$') or fail('message: ' . odbc_errormsg($c));
odbc_close($c);

ini_set('odbc.defaultlrl', '40000');
$big = connect_to('xlwt_driver.xls');
$values = [];
foreach (all_rows(odbc_exec($big, 'select * from [Values$]')) as $row) {
    $values[array_values($row)[0]] = array_values($row)[1];
}
$values['long'] === str_repeat('x', 32767) or fail('long cell of ' . strlen($values['long']));
$values['unicode'] === 'Ünïcödé ☃ 𝄞' or fail('unicode cell');
odbc_close($big);
// Statements the SQL engine runs, with ? parameters.
$sales = connect_to('xlwt_sql.xls');
$q = odbc_prepare($sales, 'select Product, Units from [Sales$] where Units > ? and Region = ? order by Units');
odbc_execute($q, [5, 'north']) or fail('execute: ' . odbc_errormsg($sales));
array_column(all_rows($q), 'Product') === ['Pencil', 'pen'] or fail('parameters');
$top = all_rows(odbc_exec($sales, 'select top 1 Region & \'/\' & Product as rp from [Sales$] order by Units desc'));
$top === [['rp' => 'North/pen']] or fail('top and &: ' . json_encode($top));
odbc_close($sales);
echo "php ok\n";
