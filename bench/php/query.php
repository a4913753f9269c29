<html>
<head><title>One query</title></head>
<body>
<?php
// The PHP form of sample/webroot/bench/query.zrp: the same SELECT on a copy of the same
// SQLite file, a connection of its own per request, and the same bytes out.
$db = new PDO('sqlite:' . __DIR__ . '/zr2.db');
$req = $db->query('select id, title from support_request where id = 1')->fetch(PDO::FETCH_ASSOC);
if ($req) {
?>

<p>#<?= $req['id'] ?> <?= htmlspecialchars($req['title']) ?></p>
<?php } ?>

</body>
</html>
