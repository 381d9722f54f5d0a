'use strict';
// The flow of library_flow.py through imapflow, written as a Node.js mail app uses the library:
// the plan (a JSON file, the first argument) names the server, the folders and the changes; the
// report (JSON on the standard output) holds what the library returned and each step's error
// (null when it worked).
const fs = require('fs');
const { ImapFlow } = require('imapflow');

const plan = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
const report = { steps: {}, read: {}, flags: {} };

function describe(err) {
    const parts = [err.message];
    if (err.responseText) parts.push(err.responseText);
    if (err.serverResponseCode) parts.push('[' + err.serverResponseCode + ']');
    return parts.join(' ');
}

// Runs one step; a failure is recorded and the flow goes on.
async function step(name, work) {
    try {
        await work();
        report.steps[name] = null;
    } catch (err) {
        report.steps[name] = describe(err);
    }
}

// Runs work with the folder selected.
async function inFolder(client, path, work) {
    const lock = await client.getMailboxLock(path);
    try {
        return await work();
    } finally {
        lock.release();
    }
}

async function main() {
    const client = new ImapFlow({
        host: '127.0.0.1', port: plan.port, secure: false, logger: false,
        auth: { user: plan.user, pass: plan.password }, disableAutoIdle: true,
        connectionTimeout: 60000, greetingTimeout: 60000, socketTimeout: 120000
    });
    client.on('error', err => { report.steps.connection = describe(err); });
    await step('login', () => client.connect());
    if (report.steps.login !== null) return;

    await step('list', async () => {
        report.folders = (await client.list()).map(folder => folder.path);
    });
    for (const path of plan.read) {
        await step('read ' + path, () => inFolder(client, path, async () => {
            const read = [];
            for await (const msg of client.fetch('1:*', { uid: true, flags: true, envelope: true, source: true })) {
                read.push({ uid: msg.uid, flags: [...msg.flags].sort(), subject: msg.envelope.subject,
                            source: msg.source.toString('base64') });
            }
            report.read[path] = read;
        }));
    }

    const change = plan.change;
    await step('flags', () => inFolder(client, change.folder, async () => {
        const uid = { uid: true };
        for (const [range, flags, add] of [[change.mark, ['\\Seen', '\\Flagged'], true],
                                           [change.unread, ['\\Seen'], false],
                                           [change.flag_unflag, ['\\Flagged'], true],
                                           [change.flag_unflag, ['\\Flagged'], false]]) {
            const done = add ? await client.messageFlagsAdd(String(range), flags, uid)
                             : await client.messageFlagsRemove(String(range), flags, uid);
            if (!done) throw new Error('STORE ' + range + ' failed');
        }
    }));

    const append = plan.append;
    await step('append', async () => {
        const done = await client.append(append.folder, fs.readFileSync(append.file), append.flags,
                                         new Date(append.date_iso));
        if (!done) throw new Error('APPEND failed');
        report.appended_uid = done.uid || null;
    });

    await step('move', () => inFolder(client, change.folder, async () => {
        const done = await client.messageMove(String(change.mark), change.move_to, { uid: true });
        if (!done) throw new Error('MOVE failed');
        report.moved_uid = done.uidMap ? done.uidMap.get(change.mark) || null : null;
    }));

    for (const path of plan.check) {
        await step('flags ' + path, () => inFolder(client, path, async () => {
            const flags = {};
            for await (const msg of client.fetch('1:*', { uid: true, flags: true })) {
                flags[msg.uid] = [...msg.flags].sort();
            }
            report.flags[path] = flags;
        }));
    }
    await step('logout', () => client.logout());
}

main().then(() => {
    process.stdout.write(JSON.stringify(report));
}, err => {
    console.error(err);
    process.exit(2);
});
