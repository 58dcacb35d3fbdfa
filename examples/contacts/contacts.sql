-- The demo site's address book: sqlite3 contacts.db < contacts.sql
CREATE TABLE contacts (
    id      INTEGER PRIMARY KEY,
    name    VARCHAR(60) NOT NULL,
    company VARCHAR(60),
    city    VARCHAR(40),
    phone   VARCHAR(20),
    notes   VARCHAR(300)
);
INSERT INTO contacts VALUES (1, 'Ada Byrne', 'Byrne Engineering', 'Dublin', '+353 1 555 0101', 'Prefers e-mail.');
INSERT INTO contacts VALUES (2, 'Tomás Ortega', 'Ortega & Hijos', 'Seville', '+34 955 555 012', 'Orders olive oil in spring.');
INSERT INTO contacts VALUES (3, 'Grace Moyo', 'Moyo Freight', 'Harare', '+263 24 555 0199', '');
INSERT INTO contacts VALUES (4, 'Lars Eklund', 'Nordljus AB', 'Uppsala', '+46 18 555 01 23', 'Call after 10:00.');
INSERT INTO contacts VALUES (5, 'Mei Chen', 'Chen Textiles', 'Dublin', '+353 1 555 0177', 'Samples sent on 3 March.');
INSERT INTO contacts VALUES (6, 'Rahul Iyer', NULL, 'Pune', '+91 20 5550 1234', NULL);
