// Drives chromium through the demo site that demo_site.sh serves: the list,
// a search with the city drop-down, an edit with awkward values, the save,
// and an unchanged second save. What the pages show is compared with what
// the sqlite3 shell reads from the site's database.
// Usage: node demo_site.mjs BASE_URL DATABASE_FILE
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { chromium } from 'playwright-core';

const [base, db] = process.argv.slice(2);
const query = (sql) => JSON.parse(execFileSync('sqlite3', ['-json', db, sql], { encoding: 'utf8' }) || '[]');
const contact = (id) => query(`SELECT name, company, city, phone, notes FROM contacts WHERE id = ${id}`)[0];
const ids = (where) => query(`SELECT id FROM contacts ${where} ORDER BY name`).map((r) => `contact-${r.id}`);
const everything = () => query('SELECT * FROM contacts ORDER BY id');

const typed = {
  name: 'Zoë "Zed" Quinn',
  company: "O'Brien & Sons <b>",
  city: 'Cork',
  phone: '+353 21 555 0123',
  notes: 'First line\nSecond line: "quoted" & <i>not markup</i>',
};
const fields = Object.keys(typed);

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox'],
});
let step = 'start';
try {
  const page = await browser.newPage();
  page.setDefaultTimeout(10000);
  const rowIds = (table) => page.locator(`${table} tr[id]`).evaluateAll((rows) => rows.map((r) => r.id));
  // The cells of one contact: each cell's text, and the elements inside it.
  const cells = (scope) => page.locator(scope).evaluate((el, names) => Object.fromEntries(names.map((n) => {
    const cell = el.querySelector(`td.${n}`);
    return [n, cell && { text: cell.textContent, elements: cell.children.length }];
  })), fields);
  const shows = async (scope, where) => {
    assert.deepEqual(await cells(scope), Object.fromEntries(fields.map((n) => [n, { text: typed[n], elements: 0 }])),
      `${where}: the cells do not show the typed values as text`);
  };

  step = 'the list';
  await page.goto(base);
  assert.match(page.url(), /\/pages\/index\.htm$/);
  assert.deepEqual(await rowIds('#contacts'), ids(''), 'the list does not show every contact');

  step = 'the search';
  await page.click('nav >> text=Search');
  await page.selectOption('select[name=city]', 'Dublin');
  await page.fill('input[name=name]', 'M%');
  await page.click('input[type=submit]');
  const found = ids("WHERE city = 'Dublin' AND name LIKE 'M%'");
  assert.equal(found.length, 1, 'the sample data has no single contact to search for');
  assert.deepEqual(await rowIds('#results'), found, 'the search found other contacts');
  assert.equal(await page.inputValue('select[name=city]'), 'Dublin', 'the drop-down lost its choice');
  const id = found[0].replace('contact-', '');

  step = 'the edit';
  await page.click(`#results #contact-${id} >> text=Edit`);
  assert.equal(await page.inputValue('input[name=name]'), contact(id).name, 'the edit form shows another contact');
  for (const n of fields) await page.fill(`[name=${n}]`, typed[n]);
  await page.click('input[type=submit]');
  assert.equal(await page.textContent('#result'), 'Saved.', 'the save page did not save');
  assert.deepEqual(contact(id), typed, 'the database does not hold what was typed');
  await shows('#contact', 'the save page');
  assert.equal(await page.locator('#contact b, #contact i').count(), 0, 'the save page made elements of the values');

  step = 'the pages after the edit';
  await page.click('nav >> text=All contacts');
  await shows(`#contacts #contact-${id}`, 'the list');
  await page.click('nav >> text=Search');
  await page.fill('input[name=name]', typed.name);
  await page.click('input[type=submit]');
  assert.deepEqual(await rowIds('#results'), [`contact-${id}`], 'searching for the new name found other contacts');
  assert.equal(await page.inputValue('input[name=name]'), typed.name, 'the search form lost the name');

  step = 'the unchanged save';
  await page.click(`#results #contact-${id} >> text=Edit`);
  for (const n of fields) assert.equal(await page.inputValue(`[name=${n}]`), typed[n], `the edit form shows ${n} otherwise`);
  const before = everything();
  await page.click('input[type=submit]');
  assert.equal(await page.textContent('#result'), 'Saved.', 'the second save did not save');
  assert.deepEqual(everything(), before, 'saving the form unchanged changed the table');
  console.log(`ok: list, search, edit and two saves of contact ${id} through ${base}`);
} catch (e) {
  console.error(`FAIL at ${step}: ${e.message}`);
  process.exitCode = 1;
} finally {
  await browser.close();
}
