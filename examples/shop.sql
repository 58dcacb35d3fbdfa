CREATE TABLE products (
    name     VARCHAR(40),
    category VARCHAR(20),
    price    DECIMAL(10,2),
    stock    INTEGER
);
INSERT INTO products VALUES ('Apples (1 kg)', 'Fruit', 2.40, 120);
INSERT INTO products VALUES ('Pears (1 kg)', 'Fruit', 2.95, 3);
INSERT INTO products VALUES ('Figs (250 g)', 'Fruit', 4.10, 18);
INSERT INTO products VALUES ('Sourdough loaf', 'Bakery', 3.80, 12);
INSERT INTO products VALUES ('Croissant', 'Bakery', 1.25, 4);
INSERT INTO products VALUES ('Olive oil (1 l)', 'Pantry', 11.50, 30);
